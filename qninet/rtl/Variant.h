#pragma once
// A small variant that tells an unassigned value from an empty text.

#include <cstdint>
#include <initializer_list>
#include <variant>

#include "qninet/rtl/SysUtils.h"

namespace qninet {

class QNINET_API Variant {
public:
  Variant() = default;
  Variant(bool v) : FValue(v) {}
  Variant(Integer v) : FValue(static_cast<Int64>(v)) {}
  Variant(Int64 v) : FValue(v) {}
  Variant(double v) : FValue(v) {}
  Variant(String v) : FValue(std::move(v)) {}
  Variant(const char16_t* v) : FValue(String(v)) {}

  bool IsUnassigned() const { return FValue.index() == 0; }
  bool IsBoolean() const { return FValue.index() == 1; }
  bool IsInteger() const { return FValue.index() == 2; }
  bool IsFloat() const { return FValue.index() == 3; }
  bool IsString() const { return FValue.index() == 4; }

  /// Conversions raise `EConvertError` when the value does not convert; an unassigned value
  /// reads as false, 0 or the empty text.
  bool AsBoolean() const;
  Int64 AsInt64() const;
  Integer AsInteger() const { return static_cast<Integer>(AsInt64()); }
  double AsFloat() const;
  String AsString() const;

  bool operator==(const Variant& other) const = default;

private:
  std::variant<std::monostate, bool, Int64, double, String> FValue;
};

/// A set over an enumeration of at most 64 values.
template <class E>
class TSet {
public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> values) {
    for (E v : values) Include(v);
  }
  static constexpr TSet FromBits(std::uint64_t bits) {
    TSet s;
    s.FBits = bits;
    return s;
  }
  constexpr std::uint64_t Bits() const { return FBits; }
  constexpr bool Contains(E v) const { return (FBits >> static_cast<unsigned>(v)) & 1U; }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr TSet& Include(E v) {
    FBits |= std::uint64_t{1} << static_cast<unsigned>(v);
    return *this;
  }
  constexpr TSet& Exclude(E v) {
    FBits &= ~(std::uint64_t{1} << static_cast<unsigned>(v));
    return *this;
  }
  constexpr TSet operator+(TSet o) const { return FromBits(FBits | o.FBits); }
  constexpr TSet operator-(TSet o) const { return FromBits(FBits & ~o.FBits); }
  constexpr TSet operator*(TSet o) const { return FromBits(FBits & o.FBits); }
  constexpr bool operator==(const TSet&) const = default;

private:
  std::uint64_t FBits = 0;
};

}  // namespace qninet
