#pragma once
// Strings, conversions, the exception family and the small text helpers every unit uses.

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "qninet/Export.h"

namespace qninet {

/// The library's text: UTF-16 code units. Wire text carries one byte (0..255) per unit.
using String = std::u16string;
using StringView = std::u16string_view;
using Integer = std::int32_t;
using Int64 = std::int64_t;
using Cardinal = std::uint32_t;
using Byte = std::uint8_t;

/// UTF-8 to UTF-16. Malformed bytes become U+FFFD; never throws.
QNINET_API String FromUtf8(std::string_view s);
/// UTF-16 to UTF-8. Unpaired surrogates become U+FFFD; never throws.
QNINET_API std::string ToUtf8(StringView s);
/// Each byte becomes one unit 0..255 (Latin-1, and the wire's byte-strings).
QNINET_API String FromBytes(std::string_view s);
/// The low 8 bits of each unit, one byte each (Latin-1 for units up to 255).
QNINET_API std::string ToBytes(StringView s);

/// Shorthand for literals and narrow texts: `S("abc")` is the ASCII/UTF-8 text as a String.
inline String S(std::string_view utf8) { return FromUtf8(utf8); }

/// The framework's general exception: a text message. `what()` gives its UTF-8 form.
class QNINET_API Exception : public std::exception {
public:
  /// An exception that carries `message`.
  explicit Exception(String message);
  ~Exception() override;
  /// The message, as the user reads it.
  const String& Message() const noexcept { return FMessage; }
  /// Sets `Message`.
  void SetMessage(String message);
  /// The message in UTF-8.
  const char* what() const noexcept override;

private:
  String FMessage;
  std::string FUtf8;
};

#define QNINET_DECLARE_EXCEPTION(Name, Base) \
  class QNINET_API Name : public Base {      \
  public:                                    \
    using Base::Base;                        \
    ~Name() override;                        \
  };

QNINET_DECLARE_EXCEPTION(EConvertError, Exception)
QNINET_DECLARE_EXCEPTION(EListError, Exception)
QNINET_DECLARE_EXCEPTION(EStringListError, Exception)
QNINET_DECLARE_EXCEPTION(EComponentError, Exception)
QNINET_DECLARE_EXCEPTION(EInvalidOperation, Exception)
QNINET_DECLARE_EXCEPTION(EAbort, Exception)
QNINET_DECLARE_EXCEPTION(EStreamError, Exception)
QNINET_DECLARE_EXCEPTION(EFileStreamError, EStreamError)
QNINET_DECLARE_EXCEPTION(EFOpenError, EFileStreamError)
QNINET_DECLARE_EXCEPTION(EFCreateError, EFileStreamError)
QNINET_DECLARE_EXCEPTION(EReadError, EStreamError)
QNINET_DECLARE_EXCEPTION(EWriteError, EStreamError)
QNINET_DECLARE_EXCEPTION(EInOutError, Exception)
QNINET_DECLARE_EXCEPTION(ESocketError, Exception)
QNINET_DECLARE_EXCEPTION(EInvalidGraphic, Exception)

/// Replaces `%d`, `%s` and `%%` in order with the given arguments. A missing argument leaves
/// its pattern as written; extra arguments are ignored. Never throws.
class QNINET_API FormatArg {
public:
  /// The number in decimal.
  FormatArg(Int64 v) : FText(IntToText(v)) {}
  /// The number in decimal.
  FormatArg(Integer v) : FText(IntToText(v)) {}
  /// The number in decimal.
  FormatArg(std::uint64_t v) : FText(IntToText(static_cast<Int64>(v))) {}
  /// The text as it is.
  FormatArg(const String& v) : FText(v) {}
  /// The text as it is.
  FormatArg(const char16_t* v) : FText(v) {}
  /// The argument as text.
  const String& Text() const { return FText; }

private:
  static String IntToText(Int64 v);
  String FText;
};
QNINET_API String FormatList(StringView pattern, std::initializer_list<FormatArg> args);
template <class... A>
String Format(StringView pattern, const A&... args) {
  return FormatList(pattern, {FormatArg(args)...});
}

// Text helpers, named after the ones application code of this field knows.
QNINET_API String IntToStr(Int64 v);
/// Reads an optionally signed decimal number with surrounding blanks allowed; `def` when the
/// text is no number or overflows 32 bits.
QNINET_API Integer StrToIntDef(StringView s, Integer def);
QNINET_API Int64 StrToInt64Def(StringView s, Int64 def);
/// Like `StrToIntDef`, but raises `EConvertError` "'X' is not a valid integer value".
QNINET_API Integer StrToInt(StringView s);
QNINET_API String Trim(StringView s);
QNINET_API String TrimLeft(StringView s);
QNINET_API String TrimRight(StringView s);
/// ASCII-only case mapping, as the protocols need it.
QNINET_API String UpperCase(StringView s);
QNINET_API String LowerCase(StringView s);
QNINET_API bool SameText(StringView a, StringView b);
QNINET_API bool StartsText(StringView prefix, StringView s);
/// 1-based position of `sub` in `s` from 1-based `offset`, 0 when absent.
QNINET_API std::size_t Pos(StringView sub, StringView s, std::size_t offset = 1);
QNINET_API String StringReplaceAll(StringView s, StringView from, StringView to);
/// The extension of the last path component, dot included; empty when there is none.
QNINET_API String ExtractFileExt(StringView path);
QNINET_API String ExtractFileName(StringView path);
QNINET_API String ExtractFilePath(StringView path);
QNINET_API String ChangeFileExt(StringView path, StringView ext);

}  // namespace qninet
