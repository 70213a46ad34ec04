#pragma once
// The one error style below the components: an operation returns its value, or a `Failure`
// that says why there is none. Nothing above this layer reads errno or a thread-local error.

#include <string>
#include <utility>
#include <variant>

namespace qninet::sys {

/// Why an operation failed: the system's or library's code (0 when there is none) and a text
/// fit to show a user.
struct Failure {
  int Code = 0;
  std::u16string Text;
};

/// A value, or the failure that stands in its place.
template <class T>
class [[nodiscard]] Result {
public:
  Result(T value) : FState(std::in_place_index<0>, std::move(value)) {}
  Result(Failure failure) : FState(std::in_place_index<1>, std::move(failure)) {}

  explicit operator bool() const { return FState.index() == 0; }
  bool ok() const { return FState.index() == 0; }
  T& value() & { return std::get<0>(FState); }
  const T& value() const& { return std::get<0>(FState); }
  T&& value() && { return std::get<0>(std::move(FState)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  const Failure& failure() const { return std::get<1>(FState); }

private:
  std::variant<T, Failure> FState;
};

/// The outcome of an operation that yields nothing but success.
template <>
class [[nodiscard]] Result<void> {
public:
  Result() = default;
  Result(Failure failure) : FFailed(true), FFailure(std::move(failure)) {}

  explicit operator bool() const { return !FFailed; }
  bool ok() const { return !FFailed; }
  const Failure& failure() const { return FFailure; }

private:
  bool FFailed = false;
  Failure FFailure;
};

using Status = Result<void>;

}  // namespace qninet::sys
