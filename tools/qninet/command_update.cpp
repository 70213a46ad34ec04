// `qninet update`: the web updater. Compares a remote file (HTTP, HTTPS, FTP or a path) with a
// local file and downloads it when it is newer or different.

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Options.h"
#include "Loopback.h"
#include "qninet/rtl/TypInfo.h"
#include "qninet/web/qniupdate.h"

namespace qninet::tool {
namespace {

// What only the updater takes; the shared options come with the run.
struct UpdateOptions {
  bool Resume = false;
  bool Status = false;
  std::string User, Password;
  std::string Url, Local;
  std::string Sha256, MinisignKey, SignatureUrl;
};

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

// The updater that a SIGINT or SIGTERM stops; the handler only sets flags.
std::atomic<TQNCustomWebComponent*> gRunning{nullptr};
volatile std::sig_atomic_t gSignal = 0;

extern "C" void on_stop_signal(int signo) {
  gSignal = signo;
  if (TQNCustomWebComponent* c = gRunning.load()) c->Cancel();
}

// Sets up the updater from the options; exBadInput after saying why not.
int configure(Run& run, TQNWebUpdater& updater, const UpdateOptions& o) {
  // A local source that is not there, and a destination that cannot be a file, are refused
  // before anything is fetched.
  if (o.Url.find("://") == std::string::npos) {
    if (const int code = run.Input(o.Url)) return code;
  }
  if (o.Local == "-") return run.Fail(exBadInput, o.Local, "the local copy must be a file");
  if (const int code = run.Destination(o.Local)) return code;
  if (const int code =
          run.Target(updater, o.Url, [&](const String& path) { updater.SetRemoteFileName(path); }))
    return code;
  if (!o.User.empty()) updater.SetUser(FromUtf8(o.User));
  if (!o.Password.empty()) updater.SetPassword(FromUtf8(o.Password));
  updater.SetLocalFileName(FromUtf8(o.Local));
  updater.SetResumeDownload(o.Resume);
  updater.SetExpectedSHA256(FromUtf8(o.Sha256));
  updater.SetPublicKey(FromUtf8(o.MinisignKey));
  updater.SetSignatureURL(FromUtf8(o.SignatureUrl));
  TQNUpdatePin pin;  // a bad digest, key or URL is the user's to mend, not a failed run
  pin.SetExpectedSHA256(updater.ExpectedSHA256());
  pin.SetPublicKey(updater.PublicKey());
  pin.SetSignatureURL(updater.SignatureURL());
  if (const String why = pin.Problem(); !why.empty()) return run.Fail(exBadInput, "", ToUtf8(why));
  updater.StatusDialog()->SetEnabled(o.Status);
  updater.StatusDialog()->SetTitle(u"qninet update");
  return run.Configure(updater);
}

template <class E>
std::string name_of(E value) {
  return ToUtf8(EnumInfoOf(static_cast<E*>(nullptr)).NameOf(value));
}

// The outcome by the component's property names; the time in ISO 8601 UTC, or null.
void put_results(nlohmann::ordered_json& j, const TQNWebUpdater& u, TQNIStatus status) {
  j["Status"] = name_of(status);
  j["RemoteFileName"] = ToUtf8(u.RemoteFileName());
  j["LocalFileName"] = ToUtf8(u.LocalFileName());
  j["RemoteFileSize"] = u.RemoteFileSize();
  j["RemoteFileCreated"] = nullptr;
  if (u.RemoteFileCreated() != 0) {
    const std::time_t secs = static_cast<std::time_t>(FileTimeToUnix(u.RemoteFileCreated()));
    std::tm tm{};
    gmtime_r(&secs, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    j["RemoteFileCreated"] = text;
  }
  j["LastErrorText"] = ToUtf8(u.LastErrorText());
  if (!u.PublicKey().empty()) j["TrustedComment"] = ToUtf8(u.TrustedComment());
}

int run_update(Run& run, const UpdateOptions& o) {
  const CommonOptions& common = run.Options();
  TQNWebUpdater updater(nullptr);
  if (const int code = configure(run, updater, o); code != exOk) return code;
  ProgressBar bar;
  const bool drawBar = !common.Quiet && !o.Status && !common.Json && ::isatty(STDERR_FILENO);
  if (drawBar)
    updater.SetOnProgress(
        [&bar](TObject*, std::uint64_t cur, std::uint64_t max, bool&) { bar.Update(cur, max); });
  gRunning = &updater;
  std::signal(SIGINT, on_stop_signal);
  std::signal(SIGTERM, on_stop_signal);
  int code = exOk;
  try {
    updater.Execute();
  } catch (const std::exception& e) {
    bar.Finish();
    code = run.Fail(exFailed, "", e.what());
  }
  gRunning = nullptr;
  const TQNIStatus status = code != exOk ? isFailed : updater.Status();
  if (code == exOk && drawBar && status == isFinished)
    bar.Update(updater.RemoteFileSize(), updater.RemoteFileSize(), true);
  bar.Finish();
  const std::string why = updater.LastErrorText().empty() ? "" : ": " + ToUtf8(updater.LastErrorText());
  if (gSignal != 0) {
    code = run.Fail(exFailed, o.Local,
                    std::string("interrupted; left as it was") +
                        (o.Resume ? " (the partial download is kept for --resume)" : ""));
  } else if (code == exOk && status == isFailed) {
    code = run.Fail(exFailed, o.Url, "failed" + why);
  } else if (status == isNotFound) {
    code = run.Fail(exNotFound, o.Url, "not found" + why);
  } else if (!common.Quiet && !common.Json && status == isFinished) {
    std::cerr << "qninet update: downloaded " << updater.RemoteFileSize() << " bytes to " << o.Local << '\n';
  }
  if (common.Json)
    put_results(run.Json(), updater, status);
  else
    std::cout << name_of(status) << '\n';
  if (gSignal == 0) return code;
  // Ends as the signal would have ended it, now that the local side is clean and told.
  run.Finish(code);
  run.WroteJson();
  std::cout.flush();
  std::signal(gSignal, SIG_DFL);
  std::raise(gSignal);
  return code;
}

const CommandRegistrar registrar(400, [](CLI::App& app, RunState& state) {
  auto o = std::make_shared<UpdateOptions>();
  auto* cmd = add_command(
      app, state, "update",
      "Download a remote file over a local copy when it is newer or of another size.\n"
      "The last line of output is the outcome: isFinished, isSkipped, isNotFound or isFailed\n"
      "(exit code 0, 0, 3, 1; 2 for bad arguments). The local file is replaced in one step, never lost.",
      Offer{.Timeout = 60, .Proxy = true, .CaCert = true}, [o](Run& run) { return run_update(run, *o); });
  cmd->add_flag("--resume", o->Resume,
                "Keep a partial download (LOCAL.part) and continue it on the next run");
  cmd->add_option("--user", o->User, "User name for the server (overrides the URL's)");
  cmd->add_option("--password", o->Password, "Password for the server (overrides the URL's)");
  cmd->add_option("--sha256", o->Sha256, "Replace the local file only with a download of this SHA-256 (hex)");
  cmd->add_option("--minisign-key", o->MinisignKey,
                  "Replace the local file only with a download signed by this minisign public key\n"
                  "(the Base64 line of its .pub file); the signature is the file's URL + .minisig");
  cmd->add_option("--signature-url", o->SignatureUrl,
                  "Where the minisign signature is, when not beside the file");
  cmd->add_flag("--status", o->Status, "Show the status window (steps and progress on standard error)");
  cmd->add_option("URL", o->Url,
                  "http://, https:// or ftp://[user[:password]@]host[:port]/path, or a file path")
      ->required();
  cmd->add_option("LOCAL", o->Local, "The local file to compare and to replace")->required();
  set_help_footer(
      *cmd,
      "Progress goes to standard error on a terminal; \"qninet update: downloaded N bytes to\n"
      "LOCAL\" after a download. A local source that is not there, and a LOCAL that is a folder\n"
      "or in a missing folder, exit 2 before anything is fetched. --json gives {\"status\",\n"
      "\"Status\", \"RemoteFileName\", \"LocalFileName\", \"RemoteFileSize\", \"RemoteFileCreated\",\n"
      "\"LastErrorText\"}.",
      {"qninet update http://127.0.0.1:8080/release.txt release.txt",
       "qninet update --resume --sha256 HEX ftp://127.0.0.1:2121/pub/big.iso big.iso"});
});

// ---------------------------------------------------------------------------------------------
// The demo: a small HTTP/1.0 server on loopback serving one file with its Last-Modified.

// The demo's server is on loopback: a proxy of the environment is set aside while it runs.
// Answers GET /release.txt with the body and its Last-Modified, anything else with 404.
const DemoRegistrar demo(DemoStep{
    400, "Web updater: download once, then skip", [](std::ostream& out) {
      std::string body;
      for (int i = 0; i < 400; ++i) body += "release notes line " + std::to_string(i) + "\n";
      const auto server = loopback::ServeFile("/release.txt", body, "text/plain");
      const std::string dir = (std::filesystem::temp_directory_path() /
                               ("qninet-demo-update-" +
                                std::to_string(std::chrono::steady_clock::now().time_since_epoch().count())))
                                  .string();
      const loopback::DirectConnections direct;
      std::filesystem::create_directories(dir);
      const std::string local = dir + "/release.txt";
      bool ok = true;
      for (int run = 1; run <= 2; ++run) {
        TQNWebUpdater updater(nullptr);
        updater.SetHost(u"127.0.0.1");
        updater.SetPort(server->Port());
        updater.SetRemoteFileName(u"/release.txt");
        updater.SetLocalFileName(FromUtf8(local));
        updater.SetTimeout(5000);
        int blocks = 0;
        updater.SetOnProgress([&blocks](TObject*, std::uint64_t, std::uint64_t, bool&) { ++blocks; });
        const bool result = updater.Execute();
        const String status = EnumInfoOf(static_cast<TQNIStatus*>(nullptr)).NameOf(updater.Status());
        out << "run " << run << ": http://127.0.0.1:" << server->Port() << "/release.txt -> "
            << ToUtf8(status) << " (" << updater.RemoteFileSize() << " bytes, " << blocks
            << " progress reports)\n";
        const TQNIStatus expected = run == 1 ? isFinished : isSkipped;
        ok = ok && result && updater.Status() == expected;
      }
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
