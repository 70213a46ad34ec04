#pragma once
// A small variant that tells an unassigned value from an empty text.

#include <cstdint>
#include <initializer_list>
#include <variant>

#include "qninet/rtl/SysUtils.h"

namespace qninet {

/// A value of a published property: unassigned, a boolean, an integer, a float or a text.
class QNINET_API Variant {
public:
  /// Holds the value (an `Integer` widened to `Int64`, a `const char16_t*` as a `String`).
  ///@{
  Variant() = default;
  Variant(bool v) : FValue(v) {}
  Variant(Integer v) : FValue(static_cast<Int64>(v)) {}
  Variant(Int64 v) : FValue(v) {}
  Variant(double v) : FValue(v) {}
  Variant(String v) : FValue(std::move(v)) {}
  Variant(const char16_t* v) : FValue(String(v)) {}
  ///@}

  /// Which type the value holds; a default-constructed value holds none.
  ///@{
  bool IsUnassigned() const { return FValue.index() == 0; }
  bool IsBoolean() const { return FValue.index() == 1; }
  bool IsInteger() const { return FValue.index() == 2; }
  bool IsFloat() const { return FValue.index() == 3; }
  bool IsString() const { return FValue.index() == 4; }
  ///@}

  ///@{
  /// Conversions raise `EConvertError` when the value does not convert; an unassigned value
  /// reads as false, 0 or the empty text.
  bool AsBoolean() const;
  Int64 AsInt64() const;
  Integer AsInteger() const { return static_cast<Integer>(AsInt64()); }
  double AsFloat() const;
  String AsString() const;
  ///@}

  /// Whether both hold the same type and value.
  bool operator==(const Variant& other) const = default;

private:
  std::variant<std::monostate, bool, Int64, double, String> FValue;
};

/// A set over an enumeration of at most 64 values.
template <class E>
class TSet {
public:
  constexpr TSet() = default;
  /// The set of the given values.
  constexpr TSet(std::initializer_list<E> values) {
    for (E v : values) Include(v);
  }
  /// The set whose bit n stands for the value of ordinal n.
  static constexpr TSet FromBits(std::uint64_t bits) {
    TSet s;
    s.FBits = bits;
    return s;
  }
  /// The set's bits, bit n for the value of ordinal n.
  constexpr std::uint64_t Bits() const { return FBits; }
  /// Whether `v` is in the set.
  constexpr bool Contains(E v) const { return (FBits >> static_cast<unsigned>(v)) & 1U; }
  /// Whether the set holds no value.
  constexpr bool Empty() const { return FBits == 0; }
  /// Adds `v` and returns the set.
  constexpr TSet& Include(E v) {
    FBits |= std::uint64_t{1} << static_cast<unsigned>(v);
    return *this;
  }
  /// Removes `v` and returns the set.
  constexpr TSet& Exclude(E v) {
    FBits &= ~(std::uint64_t{1} << static_cast<unsigned>(v));
    return *this;
  }
  /// The union.
  constexpr TSet operator+(TSet o) const { return FromBits(FBits | o.FBits); }
  /// The values of this set that are not in `o`.
  constexpr TSet operator-(TSet o) const { return FromBits(FBits & ~o.FBits); }
  /// The intersection.
  constexpr TSet operator*(TSet o) const { return FromBits(FBits & o.FBits); }
  /// Whether both sets hold the same values.
  constexpr bool operator==(const TSet&) const = default;

private:
  std::uint64_t FBits = 0;
};

}  // namespace qninet
