#include "qninet/web/qnixtract.h"

#include <algorithm>

#include "qninet/sys/AsciiText.h"
#include "qninet/sys/CodePage.h"
#include "qninet/sys/Files.h"
#include "qninet/sys/TextDecoding.h"
#include "qninet/sys/Utf8.h"
#include "qninet/web/WebContent.h"

namespace qninet {

QNINET_DEFINE_ENUM_INFO(TQNIExtract, "ieMailTo", "ieHTTP", "itHTTPS", "itFTP", "itFile", "itTelnet", "itNews",
                        "itGopher", "itWais")

QNINET_CLASS_INFO(TQNInfoExtractor, Published("Extract", &Self::Extract, &Self::SetExtract))

namespace {

// The one table of link prefixes, in the order of TQNIExtract.
constexpr StringView kPrefixes[] = {u"mailto:", u"http://", u"https://",  u"ftp://", u"file://",
                                    u"telnet:", u"news:",   u"gopher://", u"wais:"};

// The characters that end an address; line breaks and tabs too, so a link never runs into the
// next line.
bool is_delimiter(char16_t c) {
  switch (c) {
    case 0:
    case u'\t':
    case u'\n':
    case u'\r':
    case u' ':
    case u'"':
    case u'#':
    case u'%':
    case u'\'':
    case u'<':
    case u'>':
    case u'[':
    case u'\\':
    case u']':
    case u'^':
    case u'`':
    case u'{':
    case u'|':
    case u'}':
    case u'~':
      return true;
    default:
      return false;
  }
}

bool is_utf8_name(std::string_view charset) {
  const std::string lower = sys::lower_ascii(charset);
  return lower == "utf-8" || lower == "utf8";
}

String text_of(std::string_view s) { return sys::utf8_to_utf16(s); }
String text_of(StringView s) { return String(s); }

// Where a link found in [from, end) really ends: before the punctuation of the sentence around
// it, and before a closing bracket without its opening partner inside the link, as the link
// finders of mail and chat programs read "(see http://x.test/a)." The prefix is never cut.
template <class Ch>
std::size_t link_end(std::basic_string_view<Ch> text, std::size_t from, std::size_t end) {
  while (end > from) {
    const Ch c = text[end - 1];
    const bool sentence = c == '.' || c == ',' || c == ';' || c == ':' || c == '!' || c == '?';
    if (!sentence && c != ')' && c != ']') break;
    if (!sentence) {
      const auto link = text.substr(from, end - from);
      const Ch open = c == ')' ? '(' : '[';
      if (std::count(link.begin(), link.end(), open) >= std::count(link.begin(), link.end(), c)) break;
    }
    --end;
  }
  return end;
}

// Over UTF-8 bytes or decoded text: the prefix and the delimiters are ASCII, which never occurs
// inside a UTF-8 sequence.
template <class Ch>
void extract(std::basic_string_view<Ch> text, StringView prefix, TStrings& out) {
  if (prefix.empty()) return;
  const std::basic_string<Ch> wanted(prefix.begin(), prefix.end());
  for (std::size_t at = text.find(wanted); at != text.npos; at = text.find(wanted, at)) {
    std::size_t end = at + wanted.size();
    while (end < text.size() && !is_delimiter(static_cast<std::make_unsigned_t<Ch>>(text[end]))) ++end;
    out.Add(text_of(text.substr(at, link_end(text, at + wanted.size(), end) - at)));
    at = end + 1;
  }
}

}  // namespace

StringView ExtractPrefix(TQNIExtract Kind) {
  return Kind < std::size(kPrefixes) ? kPrefixes[Kind] : StringView();
}

void ExtractLinks(StringView Text, TQNIExtract Kind, TStrings& Out) {
  extract(Text, ExtractPrefix(Kind), Out);
}

void ExtractLinksFromBytes(std::string_view Bytes, TQNIExtract Kind, TStrings& Out,
                           std::string_view Charset) {
  std::size_t mark = 0;
  const std::string_view bom = sys::bom_charset(Bytes, mark);
  const bool named = bom.empty() && !Charset.empty() && sys::charset_known(Charset);
  const bool utf8 = bom == "UTF-8" || (named ? is_utf8_name(Charset) : bom.empty() && sys::valid_utf8(Bytes));
  if (utf8)
    extract(Bytes.substr(mark), ExtractPrefix(Kind), Out);
  else
    ExtractLinks(sys::decode_page_text(Bytes, Charset), Kind, Out);
}

// ---------------------------------------------------------------------------------------------

TQNInfoExtractor::TQNInfoExtractor(TComponent* AOwner)
    : TQNCustomWebUpdater(AOwner),
      FExtractedInfo(std::make_unique<TStringList>()),
      FTempSlot(NewTempFileSlot()) {}

TQNInfoExtractor::~TQNInfoExtractor() {
  StopAsyncRun();
  DeleteLocalFile(FLocalFileName);
}

void TQNInfoExtractor::SetRemoteFileName(const String& value) {
  RefuseWriteWhileRunning(*this);
  TQNCustomWebUpdater::SetRemoteFileName(value);
  DeleteLocalFile(FLocalFileName);
  FLocalFileName = PrivateTempFileName(FTempSlot, value);
}

bool TQNInfoExtractor::Execute() {
  if (FLocalFileName.empty()) FLocalFileName = PrivateTempFileName(FTempSlot, RemoteFileName());
  const bool result = TQNCustomWebUpdater::Execute();
  if (Status() == isNotFound) {
    // A page that vanished must not yield the links of its last copy.
    DeleteLocalFile(FLocalFileName);
    FExtractedInfo->Clear();
  } else if (result && sys::file_exists(ToUtf8(FLocalFileName))) {
    ParseFile();
  }
  return result;
}

void TQNInfoExtractor::ParseFile() {
  FExtractedInfo->Clear();
  ExtractLinksFromBytes(ReadLocalBytes(FLocalFileName), FExtract, *FExtractedInfo,
                        sys::content_type_charset(ToUtf8(RemoteContentType())));
}

}  // namespace qninet
