// Hostile and broken web and FTP servers against the web components: each pair of component and
// fault ends in an error within MaxTime plus a second, on no more connections than it was given,
// the replaced file keeping its old bytes and nothing left behind; each in a forked child so that
// its peak memory is its own. Then the one failure wording of every web transfer.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <tuple>

#include "harness/Forked.h"
#include "harness/Nginx.h"
#include "harness/Ports.h"
#include "harness/ScriptedServer.h"
#include "harness/TempDir.h"
#include "qninet/core/QNInCnst.h"
#include "qninet/rtl/Streams.h"
#include "qninet/sys/PrivateTemp.h"
#include "qninet/web/QNIMSTranslator.h"
#include "qninet/web/QNIRSS.h"
#include "qninet/web/QNIUPS.h"
#include "qninet/rtl/GuiScripted.h"
#include "qninet/web/qnidir.h"
#include "qninet/web/qnidirect.h"
#include "qninet/web/qniimage.h"
#include "qninet/web/qnixtract.h"
#include "support/NoSystemProxy.h"

using namespace qninet;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using harness::CaseResult;
using harness::Script;
using harness::ScriptedServer;

namespace {

constexpr Cardinal kMaxTime = 1;
Cardinal gMaxTime = kMaxTime, gTimeout = 1000;  // the case in hand's (a stall limit of 0: none)
const std::string kOld = "the old bytes";

/// What one case works on: the server's base URL and the folder its files live in.
struct Place {
  std::string Url;
  fs::path Dir;
};

/// The file a component would replace, given the old bytes before the run; empty for none.
struct Target {
  fs::path File;
  std::set<std::string> Allowed;  ///< new names the component makes by design
};

using Outcome = std::pair<CaseResult, Target>;

/// A file's bytes, or for a long one its size and first bytes (read without holding it all).
std::string summary(const fs::path& file) {
  std::error_code ec;
  const auto size = fs::file_size(file, ec);
  if (ec) return "no file";
  std::ifstream in(file, std::ios::binary);
  std::string head(std::min<std::uintmax_t>(size, 40), '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  return size > 80 ? std::to_string(size) + " bytes: " + head : harness::ReadFileText(file);
}

String ustr(const std::string& s) { return FromUtf8(s); }
String ustr(const fs::path& p) { return FromUtf8(p.string()); }

CaseResult ran(TQNCustomWebComponent& c, bool ok, std::string value) {
  if (!ok || c.Status() == isFailed) return {false, ToUtf8(c.LastErrorText())};
  if (value.size() > 80) value = std::to_string(value.size()) + " bytes: " + value.substr(0, 40);
  return {true, std::move(value)};
}

// The components made: a forked child ends with _exit and never frees them, so nothing a
// destructor would clean up hides what the run itself left behind.
std::vector<std::unique_ptr<TComponent>> gMade;

template <class C>
C& bounded(const Place& p, const char* file) {
  auto& c = *new C(nullptr);
  gMade.emplace_back(&c);
  c.SetTimeout(gTimeout);
  c.SetMaxTime(gMaxTime);
  c.SetLoadSystemProxy(false);
  if (file != nullptr) c.SetURL(ustr(p.Url + file));
  return c;
}

fs::path old_file(const fs::path& target) {
  harness::WriteFileBytes(target, kOld);
  return target;
}

Outcome updater(const Place& p) {
  auto& u = bounded<TQNWebUpdater>(p, "/file.bin");
  u.SetLocalFileName(ustr(old_file(p.Dir / "target.bin")));
  const bool ok = u.Execute();
  return {ran(u, ok, summary(p.Dir / "target.bin")), {p.Dir / "target.bin", {}}};
}

Outcome page_fetch(const Place& p) {
  auto& u = bounded<TQNWebUpdater>(p, nullptr);
  TMemoryStream body;
  const bool ok = u.ReadHTTPGetResponse(ustr(p.Url + "/page.html"), &body);
  return {ran(u, ok, std::string(body.Bytes())), {}};
}

Outcome rss(const Place& p) {
  auto& r = bounded<TQNIRSSParser>(p, "/feed.xml");
  const bool ok = r.Execute();
  const auto* ch = r.Channels()->GetItem(0);
  return {ran(r, ok, ch != nullptr ? ToUtf8(ch->Title) : "no channel"), {}};
}

Outcome extractor(const Place& p) {
  auto& x = bounded<TQNInfoExtractor>(p, "/page.html");
  const bool ok = x.Execute();
  return {ran(x, ok, ToUtf8(x.ExtractedInfo()->Text())), {}};
}

TQNMSTranslator& translator(const Place& p) {
  auto& t = bounded<TQNMSTranslator>(p, nullptr);
  t.SetHost(ustr(p.Url + "/v2/Http.svc"));
  t.SetBingAppId(u"app");
  return t;
}

Outcome translate(const Place& p) {
  auto& t = translator(p);
  const String text = t.TranslateText(u"hello", u"en", u"de");
  return {ran(t, t.Status() == isFinished, ToUtf8(text)), {}};
}

Outcome speak(const Place& p) {
  auto& t = translator(p);
  t.SpeakText(u"en", ustr(old_file(p.Dir / "speech.wav")), u"hello");
  return {ran(t, t.Status() == isFinished, summary(p.Dir / "speech.wav")), {p.Dir / "speech.wav", {}}};
}

Outcome ups(const Place& p) {
  auto& t = bounded<TQNUPSTracker>(p, "");
  t.SetTrackingNumber(u"1Z999");
  const bool ok = t.Execute();
  return {ran(t, ok, ToUtf8(t.ShipperNumber())), {}};
}

Outcome image(const Place& p) {
  auto& i = bounded<TQNRemoteImage>(p, "/pic.bmp");
  const fs::path target = old_file(ToUtf8(i.LocalFileName()));
  const bool ok = i.Execute();
  return {ran(i, ok, summary(target)), {target, {}}};
}

/// The news browser with its news file where the test wants it.
class TNews : public TQNWebDirect {
public:
  explicit TNews(TComponent* owner) : TQNWebDirect(owner) {}
  void PlaceNewsFile(const String& name) { FLocalFileName = name; }
};

Outcome news(const Place& p) {
  auto& n = bounded<TNews>(p, nullptr);
  n.SetShowMode(omNever);
  n.PlaceNewsFile(ustr(old_file(p.Dir / "news.nwf")));
  n.SetURL(ustr(p.Url + "/news.nwf"));
  const bool ok = n.Execute();
  // the previous copy is made before the run by design
  return {ran(n, ok, summary(p.Dir / "news.nwf")), {p.Dir / "news.nwf", {"news.~nwf"}}};
}

struct Client {
  const char* Name;
  std::function<Outcome(const Place&)> Run;
  bool Head;  ///< looks the file up with HEAD before the download (false: the fault meets the look-up)
  /// A whole body with line ends of LF alone and what the component makes of it (null: not tried).
  const char* Body;
  const char* BodyGives;
  /// What it makes of a whole answer of one 100 MiB line (null: not tried; empty: it fails).
  const char* BigGives;
  bool LookUpOnly = false;  ///< meets only the faults of a head (a HEAD has no body to break)
};

constexpr const char* kBigFile = "ok: 104857600 bytes: x{40}$";

const Client kClients[] = {
    {"updater", updater, true, "new\nbytes", "ok: new\nbytes$", kBigFile},
    {"look-up", updater, false, nullptr, nullptr, nullptr, true},
    {"page fetch", page_fetch, false, "new\nbytes", "ok: new\nbytes$", kBigFile},
    {"rss", rss, true, "<rss><channel>\n<title>Feed</title>\n</channel></rss>", "ok: Feed$",
     "^ok: no channel$"},
    {"extractor", extractor, true, "<a href=\"mailto:a@b.test\">\nmail</a>", "ok: mailto:a@b.test", "^ok: $"},
    {"translate", translate, false,
     "<string xmlns=\"http://schemas.microsoft.com/2003/10/Serialization/\">hallo</string>", "ok: hallo$",
     ""},
    {"speak", speak, false, "RIFF\nsound", "ok: RIFF\nsound$", kBigFile},
    {"ups", ups, false, nullptr, nullptr, ""},
    {"image", image, true, nullptr, nullptr, kBigFile},
    {"news", news, true, "[News]\nhttp://a.test=Headline", "ok: \\[News\\]\nhttp://a.test=Headline$",
     kBigFile},
};

const std::string kHead =
    "HTTP/1.1 200 OK\r\nContent-Length: 100012\r\nLast-Modified: Mon, 07 Dec 2026 09:00:00 GMT\r\n";
const std::string kTimeLimit = ToUtf8(Format(strQNInETimeLimit, static_cast<Integer>(kMaxTime)));

struct Fault {
  const char* Name;
  std::function<Script(Script)> Play;  ///< what the server does once it has read the request
  bool Once = false;                   ///< a second try is a fault: one connection per script
  Cardinal Timeout = 1000;             ///< the client's stall limit (0: only MaxTime ends it)
};

std::string pad_lines() {
  std::string pad;
  for (int i = 0; i < 100; ++i) pad += "X-Pad: 1\r\n";
  return pad;
}

// A broken head once ended the updater isFinished with an empty file, isSkipped, or cost a
// second connection and twice the time-out.
const Fault kFaults[] = {
    {"cut header block", [](Script s) { return s.Send("HTTP/1.1 200 OK\r\nContent-Le").Close(); }, true},
    {"head without its end", [](Script s) { return s.Send(kHead).Close(); }, true},
    {"status line alone", [](Script s) { return s.Send("HTTP/1.1 200 OK\r\n").Close(); }, true},
    {"8 MiB header line",
     [](Script s) { return s.Send("HTTP/1.1 200 OK\r\nX-Big: " + std::string(8 << 20, 'b')); }, true},
    {"head that never ends",
     [](Script s) { return s.Send("HTTP/1.1 200 OK\r\n").SendChunks(pad_lines(), 10, 50ms); }, true},
    {"cut body", [](Script s) { return s.Send(kHead + "\r\nlin").Close(); }},
    // an accepted connection reset at once may also look refused to the client
    {"reset at accept", [](Script) { return Script().Reset(); }},
    {"reset mid-answer", [](Script s) { return s.Send(kHead + "\r\nlin").Sleep(100ms).Reset(); }},
    {"never answers", [](Script s) { return s.HoldOpen(); }, true},
    {"never answers, no stall limit", [](Script s) { return s.HoldOpen(); }, true, 0},
    {"stall after 3 bytes, no stall limit", [](Script s) { return s.Send(kHead + "\r\nlin").HoldOpen(); },
     false, 0},
    {"trickle", [](Script s) { return s.SendChunks(kHead + "\r\n" + std::string(100, 'x'), 1, 100ms); }},
    // no size bound: MaxTime ends it, the server sending about 64 MB a second
    {"endless answer",
     [](Script s) {
       return s.Send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n").SendRepeated('x', 1ull << 40, 1ms);
     }},
};

/// A healthy head (dated: a look-up's, of a file other than the local one).
Script head_answer(const std::string& eol, std::size_t length, bool dated = true) {
  return Script()
      .ReadUntil("\r\n\r\n")
      .Send("HTTP/1.1 200 OK" + eol + "Content-Length: " + std::to_string(length) + eol +
            (dated ? "Last-Modified: Mon, 07 Dec 2026 09:00:00 GMT" + eol : "") + "Connection: close" + eol +
            eol);
}

std::set<std::string> names_in(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

struct Case {
  std::string Name;
  std::vector<Script> Scripts;
  std::string Expect;  ///< "ok: VALUE" (a regular expression) for a success, else a failure
  bool Once = false;
  Cardinal MaxTime = kMaxTime;
  Cardinal Timeout = 1000;
  double Seconds = kMaxTime + 1.0;  ///< the bound on its duration
  long MemoryKiB = 128 * 1024;      ///< the bound on its memory growth
};

/// A whole answer: its look-up (when the client makes one) and its body, with line ends `eol`.
std::vector<Script> whole_answer(const Client& client, const std::string& eol, std::size_t length,
                                 std::function<Script(Script)> body) {
  std::vector<Script> scripts;
  if (client.Head) scripts.push_back(head_answer(eol, length));
  scripts.push_back(body(head_answer(eol, length, false)));
  return scripts;
}

/// Runs one case in a forked child; a failure also reports what it did wrong to the files: a
/// changed target, a new file in its folder or in the private temporary folder.
harness::ForkedOutcome run_case(const std::function<Outcome(const Place&)>& run, const Place& place,
                                const fs::path& temp) {
  return harness::RunForked([&] {
    gui::TScriptedGui gui;
    const std::pair<fs::path, std::set<std::string>> before[] = {{place.Dir, names_in(place.Dir)},
                                                                 {temp, names_in(temp)}};
    Outcome o;
    try {
      o = run(place);
    } catch (const Exception& e) {
      o.first = {false, "raised: " + ToUtf8(e.Message())};
    }
    const auto& [result, t] = o;
    if (!result.Success && !t.File.empty() && summary(t.File) != kOld)
      o.first.Text += " FILES: target changed";
    for (const auto& [folder, names] : before)
      for (const auto& name : names_in(folder))
        if (!result.Success && !names.contains(name) && !t.Allowed.contains(name) && folder / name != t.File)
          o.first.Text += " FILES: left " + name;
    return o.first;
  });
}

void judge(const harness::ForkedOutcome& o, const std::string& expect, double seconds, long memoryKiB) {
  EXPECT_TRUE(o.Ran) << o.Text;
  const std::string seen = (o.Success ? "ok: " : "") + o.Text;
  const bool wantsSuccess = expect.starts_with("ok: ") || expect.starts_with("^ok: ");
  EXPECT_EQ(o.Success, wantsSuccess) << seen;
  if (wantsSuccess) {
    EXPECT_TRUE(std::regex_search(seen, std::regex(expect))) << seen;
  } else {
    EXPECT_FALSE(o.Text.empty());
    EXPECT_NE(o.Text.find(expect), std::string::npos) << seen;
  }
  EXPECT_EQ(seen.find("FILES:"), std::string::npos) << seen;  // a file damaged or left behind
  EXPECT_LT(o.Seconds, seconds);
  EXPECT_LT(o.GrowthKiB, memoryKiB);  // measured: no sanitizer here
}

}  // namespace

TEST(WebFaults, EveryComponentReportsEachFaultWithinItsBoundAndKeepsItsFiles) {
  if (harness::kSanitized) GTEST_SKIP() << harness::kForkUnderSanitizer;
  test_support::NoSystemProxy noProxy;
  const fs::path temp = sys::private_temp_folder().value();  // made here, so the children share it
  for (const Client& client : kClients) {
    std::vector<Case> cases;
    for (const Fault& fault : kFaults) {
      if (client.LookUpOnly && !fault.Once) continue;
      std::vector<Script> scripts;
      if (client.Head) scripts.push_back(head_answer("\r\n", 100012));
      scripts.push_back(fault.Play(Script().ReadUntil("\r\n\r\n")));
      // without a stall limit only MaxTime ends it, and the component says so
      cases.push_back({fault.Name, std::move(scripts), fault.Timeout == 0 ? kTimeLimit : "", fault.Once,
                       kMaxTime, fault.Timeout});
    }
    if (client.Body != nullptr) {
      const std::string body = client.Body;
      cases.push_back({"LF-only, no final line end",
                       whole_answer(client, "\n", body.size(), [&](Script s) { return s.Send(body); }),
                       client.BodyGives});
    }
    // a whole answer, so no MaxTime; memory may hold it twice (received and decoded)
    if (client.BigGives != nullptr)
      cases.push_back(
          {"100 MiB line",
           whole_answer(client, "\r\n", 100 << 20, [](Script s) { return s.SendRepeated('x', 100 << 20); }),
           client.BigGives, false, 0, 1000, 10.0, (2 * 100 + 64) * 1024});
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(client.Name) + " / " + c.Name);
      harness::TempDir dir("qninet-faults");
      ScriptedServer server(c.Scripts, ScriptedServer::Family::IPv4, 10s, true);
      const Place place{"http://" + server.Authority(), dir.Path()};
      gMaxTime = c.MaxTime;
      gTimeout = c.Timeout;
      const auto outcome = run_case(client.Run, place, temp);
      judge(outcome, c.Expect, c.Seconds, c.MemoryKiB);
      if (c.Once) {
        server.Stop();
        EXPECT_EQ(server.ConnectionCount(), c.Scripts.size());
      }
    }
  }
}

// FTP: the control connection answers each command by its verb; `transfer` answers LIST, NLST and
// RETR (with `wholeList`, RETR alone: the listing is whole), `other` any verb it does not know.

namespace {

Script control(std::uint16_t dataPort, std::string transfer, std::string other, bool wholeList) {
  const std::string epsv = "229 Entering Extended Passive Mode (|||" + std::to_string(dataPort) + "|)\r\n";
  const auto answer = [=](const std::string& line) -> std::string {
    const std::string verb = line.substr(0, line.find_first_of(" \r"));
    const std::map<std::string, std::string> fixed{
        {"USER", "331 password\r\n"}, {"PASS", "230 in\r\n"},
        {"PWD", "257 \"/\"\r\n"},     {"EPSV", epsv},
        {"SIZE", "213 100012\r\n"},   {"MDTM", "213 20261207090000\r\n"},
        {"QUIT", "221 bye\r\n"}};
    if (wholeList && verb == "MLSD") return "150 here\r\n226 done\r\n";
    if (verb == "LIST" || verb == "NLST" || verb == "RETR") return transfer;
    if (fixed.contains(verb)) return fixed.at(verb);
    return other.empty() ? "200 ok\r\n" : other;
  };
  Script s;
  s.Send("220 ready\r\n");
  for (int i = 0; i < 16; ++i)
    s.Reply([](const std::string& got) { return got.find("\r\n") != std::string::npos; }, answer);
  return s;
}

Outcome ftp_listing(const Place& p) {
  auto& files = bounded<TQNRemoteFiles>(p, "/");
  files.SetWildCard(u"*");
  const bool ok = files.Execute() && files.Status() == isFinished;
  return {ran(files, ok, ToUtf8(files.FileList()->Text())), {}};
}

struct FtpFault {
  const char* Name;
  Script Data;           ///< what the data connection does
  std::string Transfer;  ///< the control's answer to the transfer command
  std::string Other;     ///< the control's answer to the commands it does not know
  bool Silent = false;   ///< the control connection never greets
};

const std::string kListing = "-rw-r--r-- 1 ftp ftp 100012 Dec 07 09:00 file.bin\r\n";

const FtpFault kFtpFaults[] = {
    {"cut data", Script().Send(kListing.substr(0, 20)).Close(), "150 here\r\n426 aborted\r\n", {}},
    {"reset data", Script().Reset(), "150 here\r\n", {}},
    {"trickle data", Script().SendChunks(kListing + std::string(100, 'x'), 1, 100ms), "150 here\r\n", {}},
    {"garbage replies", Script().Close(), "xyzzy\r\n", "xyzzy\r\n"},
    {"never greets", Script().Close(), {}, {}, true},
};

}  // namespace

TEST(FtpFaults, TheListingAndTheUpdaterReportEachFaultWithinTheirBound) {
  if (harness::kSanitized) GTEST_SKIP() << harness::kForkUnderSanitizer;
  test_support::NoSystemProxy noProxy;
  gMaxTime = kMaxTime;
  gTimeout = 1000;
  for (const auto& [name, run, listsFirst] :
       {std::tuple{"listing", &ftp_listing, false}, std::tuple{"updater", &updater, true}}) {
    for (const FtpFault& fault : kFtpFaults) {
      SCOPED_TRACE(std::string(name) + " / " + fault.Name);
      std::vector<Script> transfers{fault.Data};
      if (listsFirst)  // the updater's look-up lists the folder whole; its download meets the fault
        transfers.insert(transfers.begin(),
                         Script().Send("type=file;size=100012;modify=20261207090000; file.bin\r\n").Close());
      ScriptedServer data(transfers, ScriptedServer::Family::IPv4, 10s, true);
      ScriptedServer ctl({fault.Silent ? Script().HoldOpen()
                                       : control(data.Port(), fault.Transfer, fault.Other, listsFirst)},
                         ScriptedServer::Family::IPv4, 10s, true);
      harness::TempDir dir("qninet-faults");
      const Place place{"ftp://" + ctl.Authority(), dir.Path()};
      const auto outcome = run_case(run, place, sys::private_temp_folder().value());
      judge(outcome, "", kMaxTime + 1.0, 128 * 1024);
    }
  }
}

// One failure vocabulary for every web transfer: the endpoint, then the text.

TEST(Failures, EveryWebTransferNamesItsFaultAfterItsEndpoint) {
  test_support::NoSystemProxy noProxy;
  harness::Nginx tls(true);
  tls.Start();
  gMaxTime = kMaxTime;
  gTimeout = 400;
  const auto cut = [](const std::string& body) {
    return Script()
        .ReadUntil("\r\n\r\n")
        .Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + body)
        .Close();
  };
  const std::tuple<const char*, Outcome (*)(const Place&), std::string, std::vector<Script>> rows[] = {
      {"updater", updater, "http", {cut(""), cut("abc")}},  // the look-up, then the download
      {"page fetch", page_fetch, "http", {cut("abc")}},
      {"service call", ups, "http", {cut("abc")}},
      {"ftp updater", updater, "ftp", {}}};
  for (const auto& [name, run, scheme, cuts] : rows) {
    SCOPED_TRACE(name);
    harness::TempDir dir("qninet-failures");
    const auto at = [](std::uint16_t port) { return "127.0.0.1:" + std::to_string(port) + ": "; };
    const auto said = [&dir, run = run](const std::string& how, std::uint16_t port) {
      const CaseResult r = run({how + "://127.0.0.1:" + std::to_string(port), dir.Path()}).first;
      return (r.Success ? "succeeded: " : "") + r.Text;
    };
    const std::uint16_t closed = harness::FreePort();
    EXPECT_EQ(said(scheme, closed), at(closed) + "Connection refused");
    ScriptedServer stalls(Script().HoldOpen());
    const std::string late = said(scheme, stalls.Port());
    EXPECT_TRUE(late.starts_with(at(stalls.Port()) + "timed out waiting for data")) << late;
    if (cuts.empty()) continue;
    ScriptedServer cutting(cuts);
    EXPECT_EQ(said(scheme, cutting.Port()),
              at(cutting.Port()) + "The connection closed after 3 of 100 bytes");
    // Over TLS, the certificate from a CA nobody told the client of; a handshake under a
    // sanitizer on a busy machine may take longer than the stall row's short bounds.
    gMaxTime = 30;
    gTimeout = 10000;
    EXPECT_EQ(
        said("https", tls.HttpsPort()),
        at(tls.HttpsPort()) + "TLS certificate verification failed: unable to get local issuer certificate");
    gMaxTime = kMaxTime;
    gTimeout = 400;
  }
  gMade.clear();
}
