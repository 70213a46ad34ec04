#include "qninet/rtl/Variant.h"

#include <cmath>
#include <string>

namespace qninet {

namespace {
[[noreturn]] void cannot_convert(const char16_t* to) {
  throw EConvertError(String(u"Could not convert variant to type ") + to);
}
}  // namespace

bool Variant::AsBoolean() const {
  switch (FValue.index()) {
    case 0:
      return false;
    case 1:
      return std::get<bool>(FValue);
    case 2:
      return std::get<Int64>(FValue) != 0;
    case 3:
      return std::get<double>(FValue) != 0.0;
    default: {
      const auto& s = std::get<String>(FValue);
      if (SameText(s, u"true")) return true;
      if (SameText(s, u"false")) return false;
      const Int64 v = StrToInt64Def(s, 0x7fffffffffffffffLL);
      if (v == 0x7fffffffffffffffLL) cannot_convert(u"Boolean");
      return v != 0;
    }
  }
}

Int64 Variant::AsInt64() const {
  switch (FValue.index()) {
    case 0:
      return 0;
    case 1:
      return std::get<bool>(FValue) ? 1 : 0;
    case 2:
      return std::get<Int64>(FValue);
    case 3: {
      const double d = std::get<double>(FValue);
      if (!std::isfinite(d) || std::fabs(d) > 9.2e18) cannot_convert(u"Int64");
      return static_cast<Int64>(std::llround(d));
    }
    default: {
      const auto& s = std::get<String>(FValue);
      constexpr Int64 kBad = static_cast<Int64>(0x8000000000000000ULL);
      const Int64 v = StrToInt64Def(s, kBad);
      if (v == kBad) cannot_convert(u"Int64");
      return v;
    }
  }
}

double Variant::AsFloat() const {
  switch (FValue.index()) {
    case 0:
      return 0.0;
    case 1:
      return std::get<bool>(FValue) ? 1.0 : 0.0;
    case 2:
      return static_cast<double>(std::get<Int64>(FValue));
    case 3:
      return std::get<double>(FValue);
    default: {
      const std::string s = ToUtf8(Trim(std::get<String>(FValue)));
      std::size_t used = 0;
      try {
        const double d = std::stod(s, &used);
        if (used == s.size()) return d;
      } catch (const std::exception&) {
      }
      cannot_convert(u"Double");
    }
  }
}

String Variant::AsString() const {
  switch (FValue.index()) {
    case 0:
      return String();
    case 1:
      return std::get<bool>(FValue) ? u"True" : u"False";
    case 2:
      return IntToStr(std::get<Int64>(FValue));
    case 3:
      return FromUtf8(std::to_string(std::get<double>(FValue)));
    default:
      return std::get<String>(FValue);
  }
}

}  // namespace qninet
