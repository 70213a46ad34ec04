// `qninet update`: the web updater. Compares a remote file (HTTP, HTTPS, FTP or a path) with a
// local file and downloads it when it is newer or different.

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "Command.h"
#include "Loopback.h"
#include "qninet/sys/Files.h"
#include "qninet/sys/Settings.h"
#include "qninet/rtl/TypInfo.h"
#include "qninet/web/qniupdate.h"

namespace qninet::tool {
namespace {

struct Options {
  bool Resume = false;
  bool Status = false;
  bool Quiet = false;
  std::string User, Password, Proxy, ProxyUser;
  unsigned Timeout = 60000;
  std::string Url, Local;
};

/// What a URL names for the updater.
struct Target {
  TQNIService Service = isNetwork;
  std::string Host;
  int Port = 0;
  std::string User, Password;
  std::string Path;
};

std::string percent_decode(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
      out.push_back(static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

// "scheme://[user[:password]@]host[:port]/path"; anything else is a file path.
bool parse_target(const std::string& url, Target& t, std::string& error) {
  const auto scheme_end = url.find("://");
  if (scheme_end == std::string::npos) {
    t.Service = isNetwork;
    t.Path = url;
    return true;
  }
  std::string scheme = url.substr(0, scheme_end);
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (scheme == "http") {
    t.Service = isHTTP;
    t.Port = 80;
  } else if (scheme == "https") {
    t.Service = isHTTPS;
    t.Port = 443;
  } else if (scheme == "ftp") {
    t.Service = isFTP;
    t.Port = 21;
  } else if (scheme == "file") {
    t.Service = isNetwork;
    t.Path = percent_decode(url.substr(scheme_end + 3));
    return true;
  } else {
    error = "unsupported scheme '" + scheme + "' (http, https, ftp or a file path)";
    return false;
  }
  std::string rest = url.substr(scheme_end + 3);
  const auto slash = rest.find('/');
  std::string authority = rest.substr(0, slash);
  t.Path = slash == std::string::npos ? "/" : rest.substr(slash);
  const auto at = authority.rfind('@');
  if (at != std::string::npos) {
    const std::string info = authority.substr(0, at);
    authority.erase(0, at + 1);
    const auto colon = info.find(':');
    t.User = percent_decode(info.substr(0, colon));
    if (colon != std::string::npos) t.Password = percent_decode(info.substr(colon + 1));
  }
  std::string port;
  if (!authority.empty() && authority[0] == '[') {
    const auto close = authority.find(']');
    if (close == std::string::npos) {
      error = "unclosed '[' in the host";
      return false;
    }
    t.Host = authority.substr(1, close - 1);
    if (close + 1 < authority.size() && authority[close + 1] == ':') port = authority.substr(close + 2);
  } else {
    const auto colon = authority.rfind(':');
    t.Host = authority.substr(0, colon);
    if (colon != std::string::npos) port = authority.substr(colon + 1);
  }
  if (t.Host.empty()) {
    error = "no host in the URL";
    return false;
  }
  if (!port.empty()) {
    char* end = nullptr;
    const long p = std::strtol(port.c_str(), &end, 10);
    if (*end || p <= 0 || p > 65535) {
      error = "bad port '" + port + "'";
      return false;
    }
    t.Port = static_cast<int>(p);
  }
  // An FTP path is the file's path on the server; HTTP keeps its escapes for the request.
  if (t.Service == isFTP) t.Path = percent_decode(t.Path);
  return true;
}

std::string human_bytes(double v) {
  const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  int u = 0;
  while (v >= 1024 && u < 4) {
    v /= 1024;
    ++u;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, u == 0 ? "%.0f %s" : "%.1f %s", v, units[u]);
  return buf;
}

// The terminal's progress bar: bytes, total, per cent and rate, redrawn at most ten times a second.
class ProgressBar {
public:
  void Update(std::uint64_t cur, std::uint64_t max, bool force = false) {
    const auto now = std::chrono::steady_clock::now();
    if (!FStarted) {
      FStart = now;
      FStarted = true;
    }
    if (!force && now - FLast < std::chrono::milliseconds(100)) return;
    FLast = now;
    const double secs = std::chrono::duration<double>(now - FStart).count();
    const std::string rate =
        secs > 0 ? human_bytes(static_cast<double>(cur) / secs) + "/s" : std::string("-");
    std::string line;
    if (progress_total_known(max)) {
      const std::uint64_t pct = progress_percent(cur, max);
      constexpr int kWidth = 30;
      const int filled = static_cast<int>(pct >= 100 ? kWidth : pct * kWidth / 100);
      line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
             std::string(static_cast<std::size_t>(kWidth - filled), '.') + "] " +
             human_bytes(static_cast<double>(cur)) + " / " + human_bytes(static_cast<double>(max)) + "  " +
             std::to_string(pct) + "%  " + rate;
    } else {
      line = human_bytes(static_cast<double>(cur)) + "  " + rate;
    }
    std::fprintf(stderr, "\r\x1b[2K%s", line.c_str());
    std::fflush(stderr);
    FDrawn = true;
  }
  void Finish() {
    if (FDrawn) std::fputs("\n", stderr);
    FDrawn = false;
  }

private:
  bool FStarted = false;
  bool FDrawn = false;
  std::chrono::steady_clock::time_point FStart{}, FLast{};
};

int run_update(const Options& o) {
  Target t;
  std::string error;
  if (!parse_target(o.Url, t, error)) {
    std::cerr << "qninet update: " << error << '\n';
    return 2;
  }
  if (!o.Proxy.empty()) {
    // The named proxy takes the place of the system's setting that the updater loads.
    sys::set_proxy_setting_override(sys::ProxySetting{FromUtf8(o.Proxy), true});
  }
  TQNWebUpdater updater(nullptr);
  updater.SetService(t.Service);
  if (t.Service != isNetwork) {
    updater.SetHost(FromUtf8(t.Host));
    updater.SetPort(static_cast<std::uint16_t>(t.Port));
  }
  updater.SetUser(FromUtf8(o.User.empty() ? t.User : o.User));
  updater.SetPassword(FromUtf8(o.Password.empty() ? t.Password : o.Password));
  if (!o.ProxyUser.empty()) {
    const auto colon = o.ProxyUser.find(':');
    updater.Proxy()->SetUser(FromUtf8(o.ProxyUser.substr(0, colon)));
    if (colon != std::string::npos) updater.Proxy()->SetPassword(FromUtf8(o.ProxyUser.substr(colon + 1)));
  }
  updater.SetRemoteFileName(FromUtf8(t.Path));
  updater.SetLocalFileName(FromUtf8(o.Local));
  updater.SetResumeDownload(o.Resume);
  updater.SetTimeout(o.Timeout);
  updater.StatusDialog()->SetEnabled(o.Status);
  updater.StatusDialog()->SetTitle(u"qninet update");
  ProgressBar bar;
  const bool drawBar = !o.Quiet && !o.Status && sys::stderr_is_terminal();
  if (drawBar)
    updater.SetOnProgress(
        [&bar](TObject*, std::uint64_t cur, std::uint64_t max, bool&) { bar.Update(cur, max); });
  try {
    updater.Execute();
  } catch (const std::exception& e) {
    bar.Finish();
    std::cerr << "qninet update: " << e.what() << '\n';
    std::cout << "isFailed\n";
    return 1;
  }
  if (drawBar && updater.Action() == iaDisconnected && updater.Status() == isFinished) {
    bar.Update(updater.RemoteFileSize(), updater.RemoteFileSize(), true);
  }
  bar.Finish();
  const TQNIStatus status = updater.Status();
  if (status == isFailed || status == isNotFound) {
    std::cerr << "qninet update: " << (status == isFailed ? "failed" : "not found");
    if (!updater.LastErrorText().empty()) std::cerr << ": " << ToUtf8(updater.LastErrorText());
    std::cerr << '\n';
  } else if (!o.Quiet && status == isFinished) {
    std::cerr << "downloaded " << updater.RemoteFileSize() << " bytes to " << o.Local << '\n';
  }
  std::cout << ToUtf8(EnumInfoOf(static_cast<TQNIStatus*>(nullptr)).NameOf(status)) << '\n';
  return status == isFailed ? 1 : 0;
}

const CommandRegistrar registrar(400, [](CLI::App& app, RunState& state) {
  auto* cmd = app.add_subcommand(
      "update",
      "Download a remote file over a local copy when it is newer or of another size.\n"
      "The last line of output is the outcome: isFinished, isSkipped, isNotFound or isFailed\n"
      "(exit code 1 only for isFailed). The local file is replaced in one step, never lost.");
  auto o = std::make_shared<Options>();
  cmd->add_flag("--resume", o->Resume,
                "Keep a partial download (LOCAL.part) and continue it on the next run");
  cmd->add_option("--user", o->User, "User name for the server (overrides the URL's)");
  cmd->add_option("--password", o->Password, "Password for the server (overrides the URL's)");
  cmd->add_option("--proxy", o->Proxy, "HTTP proxy as HOST:PORT (instead of http_proxy)");
  cmd->add_option("--proxy-user", o->ProxyUser, "Proxy credentials as USER:PASSWORD");
  cmd->add_option("--timeout", o->Timeout,
                  "Milliseconds a connect or a stalled transfer may last (0: no limit)")
      ->capture_default_str();
  cmd->add_flag("--status", o->Status, "Show the status window (steps and progress on standard error)");
  cmd->add_flag("--quiet", o->Quiet, "No progress bar and no summary on standard error");
  cmd->add_option("URL", o->Url,
                  "http://, https:// or ftp://[user[:password]@]host[:port]/path, or a file path")
      ->required();
  cmd->add_option("LOCAL", o->Local, "The local file to compare and to replace")->required();
  cmd->callback([&state, o] { state.ExitCode = run_update(*o); });
});

// ---------------------------------------------------------------------------------------------
// The demo: a small HTTP/1.0 server on loopback serving one file with its Last-Modified.

// Answers GET /release.txt with the body and its Last-Modified, anything else with 404.
std::string demo_web_answer(const std::string& request, const std::string& body, std::time_t modified) {
  if (request.rfind("GET /release.txt ", 0) != 0)
    return "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n";
  char date[64];
  std::tm tm{};
  gmtime_r(&modified, &tm);
  std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S GMT", &tm);
  return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\nLast-Modified: " + date +
         "\r\nContent-Type: text/plain\r\n\r\n" + body;
}

const DemoRegistrar demo(DemoStep{
    400, "Web updater: download once, then skip", [](std::ostream& out) {
      std::string body;
      for (int i = 0; i < 400; ++i) body += "release notes line " + std::to_string(i) + "\n";
      const std::time_t modified = std::time(nullptr) - 3600;
      loopback::TcpServer server(-1, loopback::TcpServer::HeaderComplete, [&](const std::string& request) {
        return demo_web_answer(request, body, modified);
      });
      const std::string dir = sys::temp_directory() + "qninet-demo-update-" +
                              std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
      std::filesystem::create_directories(dir);
      const std::string local = dir + "/release.txt";
      bool ok = true;
      for (int run = 1; run <= 2; ++run) {
        TQNWebUpdater updater(nullptr);
        updater.SetHost(u"127.0.0.1");
        updater.SetPort(server.Port());
        updater.SetRemoteFileName(u"/release.txt");
        updater.SetLocalFileName(FromUtf8(local));
        updater.SetTimeout(5000);
        sys::set_proxy_setting_override(sys::ProxySetting{});
        int blocks = 0;
        updater.SetOnProgress([&blocks](TObject*, std::uint64_t, std::uint64_t, bool&) { ++blocks; });
        const bool result = updater.Execute();
        const String status = EnumInfoOf(static_cast<TQNIStatus*>(nullptr)).NameOf(updater.Status());
        out << "run " << run << ": http://127.0.0.1:" << server.Port() << "/release.txt -> " << ToUtf8(status)
            << " (" << updater.RemoteFileSize() << " bytes, " << blocks << " progress reports)\n";
        const TQNIStatus expected = run == 1 ? isFinished : isSkipped;
        ok = ok && result && updater.Status() == expected;
      }
      sys::set_proxy_setting_override(std::nullopt);
      std::ifstream in(local, std::ios::binary);
      const std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      out << "local copy " << (got == body ? "matches" : "DIFFERS from")
          << " the served file; the second run only"
          << " compared size and time\n";
      std::filesystem::remove_all(dir);
      return ok && got == body;
    }});

}  // namespace
}  // namespace qninet::tool
