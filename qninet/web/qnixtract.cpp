#include "qninet/web/qnixtract.h"

#include "qninet/sys/Files.h"
#include "qninet/sys/TextDecoding.h"
#include "qninet/web/WebContent.h"

namespace qninet {

QNINET_DEFINE_ENUM_INFO(TQNIExtract, "ieMailTo", "ieHTTP", "itHTTPS", "itFTP", "itFile", "itTelnet", "itNews",
                        "itGopher", "itWais")

QNINET_CLASS_INFO(TQNInfoExtractor, Published("Extract", &Self::Extract, &Self::SetExtract))

StringView ExtractPrefix(TQNIExtract Kind) {
  static constexpr StringView kPrefixes[] = {u"mailto:", u"http://", u"https://",  u"ftp://", u"file://",
                                             u"telnet:", u"news:",   u"gopher://", u"wais:"};
  return Kind < std::size(kPrefixes) ? kPrefixes[Kind] : StringView();
}

namespace {

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

}  // namespace

void ExtractLinks(StringView Text, StringView Prefix, TStrings& Out) {
  if (Prefix.empty()) return;
  for (std::size_t at = Text.find(Prefix); at != StringView::npos; at = Text.find(Prefix, at)) {
    std::size_t end = at + Prefix.size();
    while (end < Text.size() && !is_delimiter(Text[end])) ++end;
    Out.Add(String(Text.substr(at, end - at)));
    at = end + 1;
  }
}

// ---------------------------------------------------------------------------------------------

TQNInfoExtractor::TQNInfoExtractor(TComponent* AOwner)
    : TQNCustomWebUpdater(AOwner),
      FExtractedInfo(std::make_unique<TStringList>()),
      FTempSlot(NewTempFileSlot()) {}

TQNInfoExtractor::~TQNInfoExtractor() { DeleteLocalFile(FLocalFileName); }

void TQNInfoExtractor::SetRemoteFileName(const String& value) {
  FRemoteFileName = value;
  DeleteLocalFile(FLocalFileName);
  FLocalFileName = PrivateTempFileName(FTempSlot, value);
}

bool TQNInfoExtractor::Execute() {
  if (FLocalFileName.empty()) FLocalFileName = PrivateTempFileName(FTempSlot, FRemoteFileName);
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
  const String text = sys::decode_page_text(ReadLocalBytes(FLocalFileName));
  ExtractLinks(text, ExtractPrefix(FExtract), *FExtractedInfo);
}

}  // namespace qninet
