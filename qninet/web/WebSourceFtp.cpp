// The FTP source: one logged-in session; the listing for the look-up and for folders, REST and
// RETR to read.

#include "qninet/sys/InetClient.h"
#include "qninet/web/WebSource.h"

namespace qninet {
namespace {

// libcurl's codes for a file or folder the server says is not there (550 to SIZE, RETR, CWD).
constexpr int kRemoteAccessDenied = 9;
constexpr int kRemoteFileNotFound = 78;

// A path goes into FTP command lines (CWD, SIZE, RETR); a line break in it would add a command.
bool holds_line_break(std::string_view path) { return path.find_first_of("\r\n") != std::string_view::npos; }

const char16_t* const kLineBreak = u"The path holds a line break; it was not sent";

class FtpSource final : public TQNWebSource {
public:
  explicit FtpSource(const TQNWebEndpoint& endpoint) : TQNWebSource(endpoint) {}

  bool Connect() override {
    if (FEndpoint.Host.empty()) return Fail(u"No host");
    sys::InetOptions o;
    o.Agent = ToUtf8(FEndpoint.Agent);
    o.TimeoutMs = FEndpoint.Timeout;
    o.Cancel = FEndpoint.Cancel;
    FSession = std::make_unique<sys::FtpSession>(std::move(o), ToUtf8(FEndpoint.Host), FEndpoint.Port,
                                                 ToUtf8(FEndpoint.User), ToUtf8(FEndpoint.Password));
    if (auto login = FSession->Login(); !login) {
      FSession.reset();
      return Fail(login.failure().Text);
    }
    return true;
  }

  TQNWebLookup Lookup(const String& name, std::uint64_t& size, TFileTime& time) override {
    size = 0;
    if (!FSession) {
      Fail(u"Not connected");
      return wlFailed;
    }
    if (holds_line_break(ToUtf8(name))) {
      Fail(kLineBreak);
      return wlFailed;
    }
    auto found = FSession->Find(ToUtf8(name));
    if (!found) {
      Fail(found.failure().Text);
      const int code = found.failure().Code;
      return code == kRemoteAccessDenied || code == kRemoteFileNotFound ? wlNotFound : wlFailed;
    }
    if (found->empty()) {
      Fail(Format(u"No file matches \"%s\"", name));
      return wlNotFound;
    }
    const sys::FtpEntry& e = found->front();
    size = e.Size;
    if (e.LastWriteTime != 0) time = e.LastWriteTime;
    return wlFound;
  }

  bool Open(const String& name, std::uint64_t offset) override {
    if (!FSession) return Fail(u"Not connected");
    if (holds_line_break(ToUtf8(name))) return Fail(kLineBreak);
    if (auto opened = FSession->Open(ToUtf8(name), offset); !opened) return Fail(opened.failure().Text);
    return true;
  }

  bool Read(char* buffer, std::size_t size, std::size_t& read) override {
    read = 0;
    if (!FSession) return Fail(u"Not connected");
    auto n = FSession->Read(buffer, size);
    if (!n) return Fail(n.failure().Text);
    read = *n;
    return true;
  }

  bool ListFolder(const std::string& folder, TQNWebFolder& out) override {
    out = {};
    if (!FSession) return Fail(u"Not connected");
    if (holds_line_break(folder)) return Fail(kLineBreak);
    auto listed = FSession->List(folder);
    if (!listed) return Fail(listed.failure().Text);
    out.Identity = FSession->Resolve(folder);
    out.Entries.reserve(listed->size());
    for (sys::FtpEntry& e : *listed) out.Entries.push_back({std::move(e.Name), e.Directory});
    return true;
  }

  std::string CurrentFolder() const override { return FSession ? FSession->Directory() : std::string(); }

private:
  std::unique_ptr<sys::FtpSession> FSession;
};

}  // namespace

std::unique_ptr<TQNWebSource> MakeFtpSource(const TQNWebEndpoint& endpoint) {
  return std::unique_ptr<TQNWebSource>(new FtpSource(endpoint));
}

}  // namespace qninet
