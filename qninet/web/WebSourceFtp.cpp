// The FTP source: one logged-in session; the listing for the look-up and for folders, REST and
// RETR to read.

#include "qninet/sys/InetClient.h"
#include "qninet/web/WebSource.h"

namespace qninet {

sys::InetOptions transfer_options(const TQNWebConnection& connection);  // WebSource.cpp

namespace {

// libcurl's codes for a file or folder the server says is not there (550 to SIZE, RETR, CWD).
constexpr int kRemoteAccessDenied = 9;
constexpr int kRemoteFileNotFound = 78;

// A path goes into FTP command lines (CWD, SIZE, RETR); a line break in it would add a command.
bool holds_line_break(std::string_view path) { return path.find_first_of("\r\n") != std::string_view::npos; }

TQNIOutcome line_break() { return TQNIOutcome::Failed(u"The path holds a line break; it was not sent"); }

TQNIOutcome failed(const sys::Failure& f) {
  return f.Code == sys::kInetCancelled ? TQNIOutcome::Cancelled(f.Text) : TQNIOutcome::Failed(f.Text);
}

class FtpSource final : public TQNWebSource {
public:
  explicit FtpSource(TQNWebConnection& connection) : TQNWebSource(connection) {}

  TQNIOutcome Connect() override {
    const Url& t = FConnection.Target;
    if (t.Host().empty()) return TQNIOutcome::Failed(u"No host");
    FSession = std::make_unique<sys::FtpSession>(transfer_options(FConnection), t.Host(), t.Port(), t.User(),
                                                 t.Password());
    if (auto login = FSession->Login(); !login) {
      FSession.reset();
      return failed(login.failure());
    }
    return {};
  }

  TQNIOutcome Lookup(std::uint64_t& size, TFileTime& time) override {
    size = 0;
    const std::string name = FConnection.Target.DecodedPath();
    if (!FSession) return TQNIOutcome::Failed(u"Not connected");
    if (holds_line_break(name)) return line_break();
    auto found = FSession->Find(name);
    if (!found) {
      const int code = found.failure().Code;
      if (code == kRemoteAccessDenied || code == kRemoteFileNotFound)
        return TQNIOutcome::NotFound(found.failure().Text);
      return failed(found.failure());
    }
    if (found->empty()) return TQNIOutcome::NotFound(Format(u"No file matches \"%s\"", FromUtf8(name)));
    const sys::FtpEntry& e = found->front();
    size = e.Size;
    if (e.LastWriteTime != 0) time = e.LastWriteTime;
    return {};
  }

  TQNIOutcome Open(std::uint64_t offset) override {
    const std::string name = FConnection.Target.DecodedPath();
    if (!FSession) return TQNIOutcome::Failed(u"Not connected");
    if (holds_line_break(name)) return line_break();
    if (auto opened = FSession->Open(name, offset); !opened) return failed(opened.failure());
    return {};
  }

  TQNIOutcome Read(char* buffer, std::size_t size, std::size_t& read) override {
    read = 0;
    if (!FSession) return TQNIOutcome::Failed(u"Not connected");
    auto n = FSession->Read(buffer, size);
    if (!n) return failed(n.failure());
    read = *n;
    return {};
  }

  TQNIOutcome ListFolder(const std::string& folder, TQNWebFolder& out) override {
    out = {};
    if (!FSession) return TQNIOutcome::Failed(u"Not connected");
    if (holds_line_break(folder)) return line_break();
    auto listed = FSession->List(folder);
    if (!listed) return failed(listed.failure());
    out.Identity = FSession->Resolve(folder);
    out.Entries.reserve(listed->size());
    for (sys::FtpEntry& e : *listed) out.Entries.push_back({std::move(e.Name), e.Directory});
    return {};
  }

  std::string CurrentFolder() const override { return FSession ? FSession->Directory() : std::string(); }

private:
  std::unique_ptr<sys::FtpSession> FSession;
};

}  // namespace

std::unique_ptr<TQNWebSource> MakeFtpSource(TQNWebConnection& connection) {
  return std::unique_ptr<TQNWebSource>(new FtpSource(connection));
}

}  // namespace qninet
