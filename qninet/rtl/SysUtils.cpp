#include "qninet/rtl/SysUtils.h"

#include <charconv>
#include <limits>

#include "qninet/sys/AsciiText.h"
#include "qninet/sys/Utf8.h"

namespace qninet {

namespace {

bool is_blank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

char16_t ascii_upper(char16_t c) { return (c >= u'a' && c <= u'z') ? c - 32 : c; }

std::size_t last_separator(StringView path) {
  const auto p = path.find_last_of(u"/");
  return p == StringView::npos ? 0 : p + 1;
}

}  // namespace

String FromUtf8(std::string_view s) { return sys::utf8_to_utf16(s); }

std::string ToUtf8(StringView s) { return sys::utf16_to_utf8(s); }

String FromBytes(std::string_view s) {
  String out(s.size(), u'\0');
  for (std::size_t i = 0; i < s.size(); ++i) out[i] = static_cast<unsigned char>(s[i]);
  return out;
}

std::string ToBytes(StringView s) {
  std::string out(s.size(), '\0');
  for (std::size_t i = 0; i < s.size(); ++i) out[i] = static_cast<char>(s[i] & 0xFF);
  return out;
}

Exception::Exception(String message) : FMessage(std::move(message)), FUtf8(ToUtf8(FMessage)) {}
Exception::~Exception() = default;
void Exception::SetMessage(String message) {
  FMessage = std::move(message);
  FUtf8 = ToUtf8(FMessage);
}
const char* Exception::what() const noexcept { return FUtf8.c_str(); }

#define QNINET_DEFINE_EXCEPTION(Name) Name::~Name() = default;
QNINET_DEFINE_EXCEPTION(EConvertError)
QNINET_DEFINE_EXCEPTION(EListError)
QNINET_DEFINE_EXCEPTION(EStringListError)
QNINET_DEFINE_EXCEPTION(EComponentError)
QNINET_DEFINE_EXCEPTION(EInvalidOperation)
QNINET_DEFINE_EXCEPTION(EAbort)
QNINET_DEFINE_EXCEPTION(EStreamError)
QNINET_DEFINE_EXCEPTION(EFileStreamError)
QNINET_DEFINE_EXCEPTION(EFOpenError)
QNINET_DEFINE_EXCEPTION(EFCreateError)
QNINET_DEFINE_EXCEPTION(EReadError)
QNINET_DEFINE_EXCEPTION(EWriteError)
QNINET_DEFINE_EXCEPTION(EInOutError)
QNINET_DEFINE_EXCEPTION(ESocketError)
QNINET_DEFINE_EXCEPTION(EInvalidGraphic)

String FormatArg::IntToText(Int64 v) { return IntToStr(v); }

String FormatList(StringView pattern, std::initializer_list<FormatArg> args) {
  String out;
  out.reserve(pattern.size() + 16);
  auto next = args.begin();
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char16_t c = pattern[i];
    if (c == u'%' && i + 1 < pattern.size()) {
      const char16_t k = pattern[i + 1];
      if (k == u'%') {
        out.push_back(u'%');
        ++i;
        continue;
      }
      if ((k == u'd' || k == u's') && next != args.end()) {
        out += next->Text();
        ++next;
        ++i;
        continue;
      }
    }
    out.push_back(c);
  }
  return out;
}

String IntToStr(Int64 v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return FromBytes(std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)));
}

Int64 StrToInt64Def(StringView s, Int64 def) {
  std::size_t i = 0, n = s.size();
  while (i < n && is_blank(s[i])) ++i;
  while (n > i && is_blank(s[n - 1])) --n;
  bool neg = false;
  if (i < n && (s[i] == u'-' || s[i] == u'+')) neg = s[i++] == u'-';
  if (i >= n) return def;
  std::uint64_t v = 0;
  for (; i < n; ++i) {
    if (s[i] < u'0' || s[i] > u'9') return def;
    const unsigned d = s[i] - u'0';
    if (v > (static_cast<std::uint64_t>(std::numeric_limits<Int64>::max()) + (neg ? 1 : 0) - d) / 10)
      return def;
    v = v * 10 + d;
  }
  return neg ? static_cast<Int64>(0 - v) : static_cast<Int64>(v);
}

Integer StrToIntDef(StringView s, Integer def) {
  constexpr Int64 kSentinel = std::numeric_limits<Int64>::min();
  const Int64 v = StrToInt64Def(s, kSentinel);
  if (v == kSentinel || v < std::numeric_limits<Integer>::min() || v > std::numeric_limits<Integer>::max())
    return def;
  return static_cast<Integer>(v);
}

Integer StrToInt(StringView s) {
  constexpr Integer kA = 0x7ffffff0, kB = 0x7ffffff1;
  const Integer a = StrToIntDef(s, kA);
  if (a == kA && StrToIntDef(s, kB) == kB)
    throw EConvertError(u"'" + String(s) + u"' is not a valid integer value");
  return a;
}

String Trim(StringView s) { return TrimLeft(TrimRight(s)); }

String TrimLeft(StringView s) {
  std::size_t i = 0;
  while (i < s.size() && s[i] <= u' ') ++i;
  return String(s.substr(i));
}

String TrimRight(StringView s) {
  std::size_t n = s.size();
  while (n > 0 && s[n - 1] <= u' ') --n;
  return String(s.substr(0, n));
}

String UpperCase(StringView s) {
  String out(s);
  for (auto& c : out) c = ascii_upper(c);
  return out;
}

String LowerCase(StringView s) {
  String out(s);
  for (auto& c : out) c = sys::lower_ascii(c);
  return out;
}

bool SameText(StringView a, StringView b) { return sys::equal_ascii_nocase(a, b); }

bool StartsText(StringView prefix, StringView s) {
  return s.size() >= prefix.size() && SameText(prefix, s.substr(0, prefix.size()));
}

std::size_t Pos(StringView sub, StringView s, std::size_t offset) {
  if (offset == 0 || sub.empty() || offset > s.size()) return 0;
  const auto p = s.find(sub, offset - 1);
  return p == StringView::npos ? 0 : p + 1;
}

String StringReplaceAll(StringView s, StringView from, StringView to) {
  if (from.empty()) return String(s);
  String out;
  std::size_t i = 0;
  for (;;) {
    const auto p = s.find(from, i);
    if (p == StringView::npos) break;
    out.append(s.substr(i, p - i)).append(to);
    i = p + from.size();
  }
  out.append(s.substr(i));
  return out;
}

String ExtractFileName(StringView path) { return String(path.substr(last_separator(path))); }

String ExtractFilePath(StringView path) { return String(path.substr(0, last_separator(path))); }

String ExtractFileExt(StringView path) {
  const auto name = path.substr(last_separator(path));
  const auto dot = name.find_last_of(u'.');
  return dot == StringView::npos ? String() : String(name.substr(dot));
}

String ChangeFileExt(StringView path, StringView ext) {
  const auto start = last_separator(path);
  const auto dot = path.substr(start).find_last_of(u'.');
  const auto stem = dot == StringView::npos ? path : path.substr(0, start + dot);
  return String(stem) + String(ext);
}

}  // namespace qninet
