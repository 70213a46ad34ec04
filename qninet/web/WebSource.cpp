// The source interface, the connection's one translation into the system layer's options, the
// deadline watch, and the file-path source.

#include "qninet/web/WebSource.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "qninet/sys/CurlTransfer.h"
#include "qninet/sys/DirListing.h"
#include "qninet/sys/FailureText.h"
#include "qninet/sys/Files.h"
#include "qninet/sys/InetClient.h"
#include "qninet/sys/UrlParser.h"

namespace qninet {

static bool is_http(TQNIService service) { return service == isHTTP || service == isHTTPS; }

std::optional<TQNIService> ServiceOfScheme(std::string_view scheme) {
  static constexpr std::string_view kSchemes[] = {"http", "https", "ftp", "file"};
  for (std::size_t i = 0; i < std::size(kSchemes); ++i)
    if (scheme == kSchemes[i]) return static_cast<TQNIService>(i);
  return std::nullopt;
}

String RemoteName(const TQNWebConnection& c) {
  return FromUtf8(is_http(c.Service) ? c.Target.Target() : c.Target.DecodedPath());
}

void SetRemoteName(TQNWebConnection& c, const String& name) {
  const std::string text = ToUtf8(name);
  if (!is_http(c.Service)) {
    c.Target.SetPath(sys::percent_encode(text, "!$&'()*+,;=:@/"));
    c.Target.SetQuery({});
    return;
  }
  const std::string target = text.substr(0, text.find('#'));
  const auto q = target.find('?');
  c.Target.SetPath(sys::percent_encode(target.substr(0, q), "!$&'()*+,;=:@%/"));
  c.Target.SetQuery(q == std::string::npos ? std::string()
                                           : sys::percent_encode(target.substr(q + 1), "!$&'()*+,;=:@%/?"));
}

// The one place a connection becomes the options of the system layer's transfers.
sys::InetOptions transfer_options(const TQNWebConnection& c) {
  sys::InetOptions o;
  o.Agent = ToUtf8(c.Agent);
  o.TimeoutMs = c.Timeout;
  o.CaFile = ToUtf8(c.CAFile);
  o.Cancel = c.Cancel;
  const TQNInetProxy* p = c.Proxy;
  if (p && p->UseProxy() && !p->Server().empty()) {
    // The system's setting keeps the port apart from the server; a server text may carry one.
    const auto port = static_cast<std::uint16_t>(p->Port() > 0 && p->Port() <= 65535 ? p->Port() : 0);
    const auto hp = HostPort::Parse(ToUtf8(p->Server()), port);
    o.ProxyHost = hp ? hp->Host : ToUtf8(p->Server());
    o.ProxyPort = hp ? hp->Port : port;
  }
  return o;
}

TQNWebSource::~TQNWebSource() = default;

TQNIOutcome TQNWebSource::Send(const TQNWebRequest&) { return Open(0); }

TQNIOutcome TQNWebSource::ListFolder(const std::string&, TQNWebFolder& out) {
  out = {};
  return TQNIOutcome::Failed(u"This service lists no folders");
}

String TQNWebSource::Header(const char*) const { return {}; }

std::uint64_t TQNWebSource::AnnouncedSize() const {
  const std::uint64_t size = parse_content_length(Header("Content-Length"));
  return size == kQNIUnknownSize ? 0 : size;
}

TQNIOutcome TQNWebSource::ReadAll(TStream& out, std::uint64_t limit, const TQNWebProgress& progress) {
  const std::uint64_t announced = AnnouncedSize();
  std::vector<char> buffer(kQNIBlockSize);
  std::uint64_t total = 0;
  for (;;) {
    std::size_t got = 0;
    if (auto read = Read(buffer.data(), buffer.size(), got); !read) return read;
    if (got == 0) return {};
    if (limit > 0 && total + got > limit) {
      const HostPort& at = FConnection.Target.Endpoint();
      return TQNIOutcome::Failed(FromUtf8(sys::at_endpoint(at.ToString(), sys::too_large_text(limit))));
    }
    out.WriteBuffer(buffer.data(), static_cast<Int64>(got));
    total += got;
    bool abort = false;
    if (progress) progress(total, announced, abort);
    if (abort) return TQNIOutcome::Cancelled(u"Cancelled");
  }
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

struct TQNDeadlineWatch::Impl {
  std::mutex Mutex;
  std::condition_variable Wake;
  bool Stop = false;
  bool Fired = false;
  std::thread Thread;
  void stop() {
    if (!Thread.joinable()) return;
    {
      std::lock_guard lock(Mutex);
      Stop = true;
    }
    Wake.notify_all();
    Thread.join();
  }
};

TQNDeadlineWatch::TQNDeadlineWatch(Cardinal seconds, std::atomic<bool>& cancel)
    : FImpl(std::make_unique<Impl>()) {
  if (seconds == 0) return;
  FImpl->Thread = std::thread([m = FImpl.get(), seconds, &cancel] {
    std::unique_lock lock(m->Mutex);
    if (!m->Wake.wait_for(lock, std::chrono::seconds(seconds), [m] { return m->Stop; })) {
      m->Fired = true;
      cancel.store(true);
    }
  });
}

TQNDeadlineWatch::~TQNDeadlineWatch() { FImpl->stop(); }

bool TQNDeadlineWatch::Fired() {
  FImpl->stop();
  return FImpl->Fired;
}

namespace {

class FileSource final : public TQNWebSource {
public:
  explicit FileSource(TQNWebConnection& connection) : TQNWebSource(connection) {}

  TQNIOutcome Connect() override { return {}; }

  TQNIOutcome Lookup(std::uint64_t& size, TFileTime& time) override {
    const std::string path = FConnection.Target.DecodedPath();
    if (!sys::file_exists(path) || sys::directory_exists(path))
      return TQNIOutcome::NotFound(Format(u"No file \"%s\"", FromUtf8(path)));
    size = static_cast<std::uint64_t>(sys::file_size(path).value_or(0));
    time = sys::file_write_time(path).value_or(0);
    return {};
  }

  TQNIOutcome Open(std::uint64_t offset) override {
    FPath = FConnection.Target.DecodedPath();
    const String name = FromUtf8(FPath);
    if (const auto opened = FFile.Open(FPath, sys::FileOpenMode::Read); !opened)
      throw EFOpenError(Format(u"Cannot open file \"%s\". %s", name, opened.failure().Text));
    FSize = FFile.Seek(0, 2);
    FPosition = static_cast<std::int64_t>(offset);
    if (FSize < 0 || FFile.Seek(FPosition, 0) != FPosition)
      return TQNIOutcome::Failed(Format(u"Cannot read file \"%s\" from byte %d", name, offset));
    return {};
  }

  TQNIOutcome Read(char* buffer, std::size_t size, std::size_t& read) override {
    read = 0;
    const std::int64_t n = FFile.Read(buffer, static_cast<std::int64_t>(size));
    if (n < 0) return TQNIOutcome::Failed(Format(u"Cannot read file \"%s\"", FromUtf8(FPath)));
    FPosition += n;
    read = static_cast<std::size_t>(n);
    // A share gives no Content-Length: the end must be where the file ended when it was opened.
    if (n == 0 && (FPosition != FSize || sys::file_size(FPath).value_or(-1) != FSize))
      return TQNIOutcome::Failed(
          Format(u"The source file \"%s\" changed during the download", FromUtf8(FPath)));
    return {};
  }

  TQNIOutcome ListFolder(const std::string& folder, TQNWebFolder& out) override {
    out = {};
    auto read = sys::read_directory(folder);
    if (!read) return TQNIOutcome::Failed(read.failure().Text);
    out.Identity = std::move(read->Identity);
    out.Entries.reserve(read->Entries.size());
    for (sys::DirEntry& e : read->Entries) out.Entries.push_back({std::move(e.Name), e.Directory});
    return {};
  }

private:
  std::string FPath;
  sys::FileHandle FFile;
  std::int64_t FSize = 0;
  std::int64_t FPosition = 0;
};

}  // namespace

std::unique_ptr<TQNWebSource> MakeFileSource(TQNWebConnection& connection) {
  return std::unique_ptr<TQNWebSource>(new FileSource(connection));
}

std::unique_ptr<TQNWebSource> MakeWebSource(TQNWebConnection& connection) {
  switch (connection.Service) {
    case isFTP:
      return MakeFtpSource(connection);
    case isNetwork:
      return MakeFileSource(connection);
    case isHTTP:
    case isHTTPS:
      break;
  }
  return MakeHttpSource(connection);
}

void SetWebTransferTrace(void (*trace)(char, const char*, std::size_t)) { sys::set_transfer_trace(trace); }

}  // namespace qninet
