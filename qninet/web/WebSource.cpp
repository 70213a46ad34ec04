// The source interface, the factory, and the file-path source.

#include "qninet/web/WebSource.h"

#include "qninet/sys/DirListing.h"
#include "qninet/sys/Files.h"

namespace qninet {

TQNWebSource::~TQNWebSource() = default;

bool TQNWebSource::ListFolder(const std::string&, TQNWebFolder& out) {
  out = {};
  return Fail(u"This service lists no folders");
}

std::uint64_t parse_content_length(const String& text) {
  const String t = Trim(text);
  if (t.empty()) return kQNIUnknownSize;
  std::uint64_t v = 0;
  for (char16_t c : t) {
    if (c < u'0' || c > u'9') return kQNIUnknownSize;
    const auto d = static_cast<std::uint64_t>(c - u'0');
    if (v > (UINT64_MAX - d) / 10) return kQNIUnknownSize;
    v = v * 10 + d;
  }
  return v;
}

namespace {

class FileSource final : public TQNWebSource {
public:
  explicit FileSource(const TQNWebEndpoint& endpoint) : TQNWebSource(endpoint) {}

  bool Connect() override { return true; }

  TQNWebLookup Lookup(const String& name, std::uint64_t& size, TFileTime& time) override {
    const std::string path = ToUtf8(name);
    if (!sys::file_exists(path) || sys::directory_exists(path)) {
      Fail(Format(u"No file \"%s\"", name));
      return wlNotFound;
    }
    size = static_cast<std::uint64_t>(sys::file_size(path).value_or(0));
    time = sys::file_write_time(path).value_or(0);
    return wlFound;
  }

  bool Open(const String& name, std::uint64_t offset) override {
    FPath = ToUtf8(name);
    if (const auto opened = FFile.Open(FPath, sys::FileOpenMode::Read); !opened)
      throw EFOpenError(Format(u"Cannot open file \"%s\". %s", name, opened.failure().Text));
    FSize = FFile.Seek(0, 2);
    FPosition = static_cast<std::int64_t>(offset);
    if (FSize < 0 || FFile.Seek(FPosition, 0) != FPosition)
      return Fail(Format(u"Cannot read file \"%s\" from byte %d", name, offset));
    return true;
  }

  bool Read(char* buffer, std::size_t size, std::size_t& read) override {
    read = 0;
    const std::int64_t n = FFile.Read(buffer, static_cast<std::int64_t>(size));
    if (n < 0) return Fail(Format(u"Cannot read file \"%s\"", FromUtf8(FPath)));
    FPosition += n;
    read = static_cast<std::size_t>(n);
    // A share gives no Content-Length: the end must be where the file ended when it was opened.
    if (n == 0 && (FPosition != FSize || sys::file_size(FPath).value_or(-1) != FSize))
      return Fail(Format(u"The source file \"%s\" changed during the download", FromUtf8(FPath)));
    return true;
  }

  bool ListFolder(const std::string& folder, TQNWebFolder& out) override {
    out = {};
    auto read = sys::read_directory(folder);
    if (!read) return Fail(read.failure().Text);
    out.Identity = std::move(read->Identity);
    out.Entries.reserve(read->Entries.size());
    for (sys::DirEntry& e : read->Entries) out.Entries.push_back({std::move(e.Name), e.Directory});
    return true;
  }

private:
  std::string FPath;
  sys::FileHandle FFile;
  std::int64_t FSize = 0;
  std::int64_t FPosition = 0;
};

}  // namespace

std::unique_ptr<TQNWebSource> MakeFileSource(const TQNWebEndpoint& endpoint) {
  return std::unique_ptr<TQNWebSource>(new FileSource(endpoint));
}

std::unique_ptr<TQNWebSource> MakeWebSource(const TQNWebEndpoint& endpoint) {
  switch (endpoint.Service) {
    case isFTP:
      return MakeFtpSource(endpoint);
    case isNetwork:
      return MakeFileSource(endpoint);
    case isHTTP:
    case isHTTPS:
      break;
  }
  return MakeHttpSource(endpoint);
}

}  // namespace qninet
