#pragma once
// The information extractor: downloads a page or file through the updater's run and collects
// every address that starts with one chosen scheme (mail, web, FTP, file, telnet, news,
// gopher, WAIS).

#include <cstdint>
#include <memory>
#include <string_view>

#include "qninet/rtl/Strings.h"
#include "qninet/web/qniupdate.h"

namespace qninet {

enum TQNIExtract : std::uint8_t {
  ieMailTo,
  ieHTTP,
  itHTTPS,
  itFTP,
  itFile,
  itTelnet,
  itNews,
  itGopher,
  itWais
};
QNINET_DECLARE_ENUM_INFO(TQNIExtract)

/// The prefix searched for: "mailto:", "http://", "https://", "ftp://", "file://", "telnet:",
/// "news:", "gopher://", "wais:".
QNINET_API StringView ExtractPrefix(TQNIExtract Kind);

/// Appends to `Out`, in text order and with duplicates, every run of `Text` that starts with
/// the prefix of `Kind` (exact case) and ends before the first delimiter: a zero, a blank, CR,
/// LF, TAB, a quote or apostrophe, # % < > [ \ ] ^ ` { | } ~. The search goes on after the
/// delimiter.
QNINET_API void ExtractLinks(StringView Text, TQNIExtract Kind, TStrings& Out);
/// The same on a page's bytes, decoded as text: a byte-order mark, else `Charset` (the charset
/// of the answer's Content-Type) when known, else UTF-8 when the bytes are valid UTF-8, else
/// the ANSI code page.
QNINET_API void ExtractLinksFromBytes(std::string_view Bytes, TQNIExtract Kind, TStrings& Out,
                                      std::string_view Charset = {});

/// Downloads `RemoteFileName` into a private temporary file of its own (kept between runs, so
/// an unchanged file is not fetched again) and fills `ExtractedInfo` from its text.
class QNINET_API TQNInfoExtractor : public TQNCustomWebUpdater {
  QNINET_OBJECT(TQNInfoExtractor, TQNCustomWebUpdater)
public:
  /// Creates the component; `AOwner` (or none) owns it and destroys it with itself.
  explicit TQNInfoExtractor(TComponent* AOwner);
  /// Deletes the temporary file.
  ~TQNInfoExtractor() override;
  /// Runs the updater, then extracts from the local file unless the run failed. A file that
  /// is not found empties `ExtractedInfo` and removes the local copy; a failed run keeps both.
  bool Execute() override;
  /// Stores the remote name, deletes the previous local file and names the new one after the
  /// remote name's extension.
  void SetRemoteFileName(const String& value) override;

  /// What to extract: the e-mail addresses, the links of a URL scheme...
  TQNIExtract Extract() const { return FExtract; }
  /// Sets `Extract`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetExtract(TQNIExtract value) {
    RefuseWriteWhileRunning(*this);
    FExtract = value;
  }
  /// What the last run found, one a line; owned.
  TStrings* ExtractedInfo() const { return FExtractedInfo.get(); }

protected:
  /// Reads the local file as text (a byte-order mark, else the charset of the answer's
  /// Content-Type, else UTF-8 when valid, else the ANSI code page) and extracts from it;
  /// raises `EFOpenError` when it cannot be opened.
  virtual void ParseFile();

private:
  TQNIExtract FExtract = ieMailTo;
  std::unique_ptr<TStringList> FExtractedInfo;
  int FTempSlot;
};

}  // namespace qninet
