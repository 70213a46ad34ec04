// Hostile and broken web servers against the web components: each pair of component and fault
// must end in the error the user would see (never a success), within MaxTime plus a second,
// with the file the component would replace keeping its old bytes and no file left behind.
// Each case runs in a forked child so that its peak memory is its own.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <set>
#include <string>

#include "harness/Forked.h"
#include "harness/ScriptedServer.h"
#include "harness/TempDir.h"
#include "qninet/core/QNInCnst.h"
#include "qninet/rtl/Streams.h"
#include "qninet/sys/PrivateTemp.h"
#include "qninet/web/QNIMSTranslator.h"
#include "qninet/web/QNIRSS.h"
#include "qninet/web/QNIUPS.h"
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
/// The MaxTime of the case in hand (a whole answer of 100 MiB is not cut short by it).
Cardinal gMaxTime = kMaxTime;
/// The stall limit of the case in hand (0: none, so only MaxTime ends a stall).
Cardinal gTimeout = 1000;
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

template <class C>
void bound(C& c) {
  c.SetTimeout(gTimeout);
  c.SetMaxTime(gMaxTime);
  c.SetLoadSystemProxy(false);
}

CaseResult ran(TQNCustomWebComponent& c, bool ok, std::string value) {
  if (!ok || c.Status() == isFailed) return {false, ToUtf8(c.LastErrorText())};
  if (value.size() > 80) value = std::to_string(value.size()) + " bytes: " + value.substr(0, 40);
  return {true, std::move(value)};
}

// A component that the child leaks on purpose: the child ends with _exit, so nothing a
// destructor would clean up hides what the run itself left behind.
template <class C>
C& leaked() {
  return *new C(nullptr);
}

Outcome updater(const Place& p) {
  auto& u = leaked<TQNWebUpdater>();
  bound(u);
  u.SetURL(ustr(p.Url + "/file.bin"));
  const fs::path target = p.Dir / "target.bin";
  harness::WriteFileBytes(target, kOld);
  u.SetLocalFileName(ustr(target));
  const bool ok = u.Execute();
  return {ran(u, ok, summary(target)), {target, {}}};
}

Outcome page_fetch(const Place& p) {
  auto& u = leaked<TQNWebUpdater>();
  bound(u);
  TMemoryStream body;
  const bool ok = u.ReadHTTPGetResponse(ustr(p.Url + "/page.html"), &body);
  const auto bytes = body.Bytes();
  return {ran(u, ok,
              bytes.size() > 80 ? std::to_string(bytes.size()) + " bytes: " + std::string(bytes.substr(0, 40))
                                : std::string(bytes)),
          {}};
}

Outcome rss(const Place& p) {
  auto& r = leaked<TQNIRSSParser>();
  bound(r);
  r.SetURL(ustr(p.Url + "/feed.xml"));
  const bool ok = r.Execute();
  const auto* ch = r.Channels()->GetItem(0);
  return {ran(r, ok, ch != nullptr ? ToUtf8(ch->Title) : "no channel"), {}};
}

Outcome extractor(const Place& p) {
  auto& x = leaked<TQNInfoExtractor>();
  bound(x);
  x.SetURL(ustr(p.Url + "/page.html"));
  const bool ok = x.Execute();
  return {ran(x, ok, ToUtf8(x.ExtractedInfo()->Text())), {}};
}

TQNMSTranslator& translator(const Place& p) {
  auto& t = leaked<TQNMSTranslator>();
  bound(t);
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
  const fs::path target = p.Dir / "speech.wav";
  harness::WriteFileBytes(target, kOld);
  t.SpeakText(u"en", ustr(target), u"hello");
  return {ran(t, t.Status() == isFinished, summary(target)), {target, {}}};
}

Outcome ups(const Place& p) {
  auto& t = leaked<TQNUPSTracker>();
  bound(t);
  t.SetService(isHTTP);
  const auto colon = p.Url.rfind(':');
  t.SetHost(ustr(p.Url.substr(7, colon - 7)));
  t.SetPort(static_cast<std::uint16_t>(std::stoi(p.Url.substr(colon + 1))));
  t.SetTrackingNumber(u"1Z999");
  const bool ok = t.Execute();
  return {ran(t, ok, ToUtf8(t.ShipperNumber())), {}};
}

Outcome image(const Place& p) {
  auto& i = leaked<TQNRemoteImage>();
  bound(i);
  i.SetURL(ustr(p.Url + "/pic.bmp"));
  const fs::path target = ToUtf8(i.LocalFileName());
  harness::WriteFileBytes(target, kOld);
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
  auto& n = leaked<TNews>();
  bound(n);
  n.SetShowMode(omNever);
  const fs::path target = p.Dir / "news.nwf";
  harness::WriteFileBytes(target, kOld);
  n.PlaceNewsFile(ustr(target));
  n.SetURL(ustr(p.Url + "/news.nwf"));
  const bool ok = n.Execute();
  // the previous copy is made before the run by design
  return {ran(n, ok, summary(target)), {target, {"news.~nwf"}}};
}

struct Client {
  const char* Name;
  std::function<Outcome(const Place&)> Run;
  bool Head;  ///< looks the file up with HEAD before the download
  /// A whole body for the line-end case and what the component makes of it (null: not tried).
  const char* Body;
  const char* BodyGives;
  /// What it makes of a whole answer of one 100 MiB line.
  const char* BigGives;
};

constexpr const char* kBigFile = "ok: 104857600 bytes: x{40}$";
constexpr const char* kBigXml = ": The answer is larger than 8388608 bytes$";

const Client kClients[] = {
    {"updater", updater, true, "new\nbytes", "ok: new\nbytes$", kBigFile},
    {"page fetch", page_fetch, false, "new\nbytes", "ok: new\nbytes$", kBigFile},
    {"rss", rss, true, "<rss><channel>\n<title>Feed</title>\n</channel></rss>", "ok: Feed$",
     "^ok: no channel$"},
    {"extractor", extractor, true, "<a href=\"mailto:a@b.test\">\nmail</a>", "ok: mailto:a@b.test", "^ok: $"},
    {"translate", translate, false,
     "<string xmlns=\"http://schemas.microsoft.com/2003/10/Serialization/\">hallo</string>", "ok: hallo$",
     kBigXml},
    {"speak", speak, false, "RIFF\nsound", "ok: RIFF\nsound$", kBigFile},
    {"ups", ups, false, nullptr, nullptr, kBigXml},
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
  std::string Expect;                  ///< the error the user sees (a regular expression)
  Cardinal Timeout = 1000;             ///< the client's stall limit
};

const std::string kLate = kTimeLimit + "|^No data for 1000 ms$";

const Fault kFaults[] = {
    {"cut header block", [](Script s) { return s.Send("HTTP/1.1 200 OK\r\nContent-Le").Close(); },
     ": The server closed the connection inside the answer's head$"},
    {"cut body", [](Script s) { return s.Send(kHead + "\r\nlin").Close(); },
     ": The connection closed after 3 of 100012 bytes$"},
    // an accepted connection reset at once may also look refused to the client
    {"reset at accept", [](Script) { return Script().Reset(); },
     "reset by peer$|Couldn't connect to server$"},
    {"reset mid-answer", [](Script s) { return s.Send(kHead + "\r\nlin").Sleep(100ms).Reset(); },
     "reset by peer$"},
    {"never answers", [](Script s) { return s.HoldOpen(); }, kLate},
    // without a stall limit only MaxTime ends these
    {"never answers, no stall limit", [](Script s) { return s.HoldOpen(); }, kTimeLimit, 0},
    {"stall after 3 bytes, no stall limit", [](Script s) { return s.Send(kHead + "\r\nlin").HoldOpen(); },
     kTimeLimit, 0},
    {"trickle", [](Script s) { return s.SendChunks(kHead + "\r\n" + std::string(100, 'x'), 1, 100ms); },
     kLate},
    // no size bound: MaxTime ends it, the server sending about 64 MB a second
    {"endless answer",
     [](Script s) {
       return s.Send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n").SendRepeated('x', 1ull << 40, 1ms);
     },
     kTimeLimit + "|" + kBigXml},
};

/// A healthy answer to the look-up, for a file other than the local one.
Script head_answer(const std::string& eol, std::size_t length) {
  return Script()
      .ReadUntil("\r\n\r\n")
      .Send("HTTP/1.1 200 OK" + eol + "Content-Length: " + std::to_string(length) + eol +
            "Last-Modified: Mon, 07 Dec 2026 09:00:00 GMT" + eol + "Connection: close" + eol + eol);
}

std::set<std::string> names_in(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

/// What the run did wrong to the files: a changed target, a new file in its folder or in the
/// private temporary folder.
std::string damage(const Target& t, const std::set<std::string>& dirBefore, const fs::path& dir,
                   const std::set<std::string>& tempBefore, const fs::path& temp) {
  std::string wrong;
  if (!t.File.empty() && summary(t.File) != kOld) wrong += " FILES: target changed";
  for (const auto& [folder, before] : {std::pair{dir, &dirBefore}, std::pair{temp, &tempBefore}})
    for (const auto& name : names_in(folder))
      if (!before->contains(name) && !t.Allowed.contains(name) && folder / name != t.File)
        wrong += " FILES: left " + name;
  return wrong;
}

struct Case {
  std::string Name;
  std::vector<Script> Scripts;
  std::string Expect;
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
  scripts.push_back(body(Script()
                             .ReadUntil("\r\n\r\n")
                             .Send("HTTP/1.1 200 OK" + eol + "Content-Length: " + std::to_string(length) +
                                   eol + "Connection: close" + eol + eol)));
  return scripts;
}

}  // namespace

TEST(WebFaults, EveryComponentReportsEachFaultWithinItsBoundAndKeepsItsFiles) {
  if (harness::kSanitized) GTEST_SKIP() << harness::kForkUnderSanitizer;
  test_support::NoSystemProxy noProxy;
  const fs::path temp = sys::private_temp_folder().value();  // made here, so the children share it
  std::string table;
  for (const Client& client : kClients) {
    std::vector<Case> cases;
    for (const Fault& fault : kFaults) {
      std::vector<Script> scripts;
      if (client.Head) scripts.push_back(head_answer("\r\n", 100012));
      scripts.push_back(fault.Play(Script().ReadUntil("\r\n\r\n")));
      cases.push_back({fault.Name, std::move(scripts), fault.Expect, kMaxTime, fault.Timeout});
    }
    if (client.Body != nullptr) {
      const std::string body = client.Body;
      cases.push_back({"LF-only, no final line end",
                       whole_answer(client, "\n", body.size(), [&](Script s) { return s.Send(body); }),
                       client.BodyGives});
    }
    // a whole answer, so no MaxTime; memory may hold it twice (received and decoded)
    cases.push_back(
        {"100 MiB line",
         whole_answer(client, "\r\n", 100 << 20, [](Script s) { return s.SendRepeated('x', 100 << 20); }),
         client.BigGives, 0, 1000, 10.0, (2 * 100 + 64) * 1024});
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(client.Name) + " / " + c.Name);
      harness::TempDir dir("qninet-faults");
      ScriptedServer server(c.Scripts, ScriptedServer::Family::IPv4, 10s, true);
      const Place place{"http://" + server.Authority(), dir.Path()};
      const bool wantsSuccess = c.Expect.starts_with("ok: ") || c.Expect.starts_with("^ok: ");
      gMaxTime = c.MaxTime;
      gTimeout = c.Timeout;
      const auto outcome = harness::RunForked([&] {
        const auto dirBefore = names_in(dir.Path());
        const auto tempBefore = names_in(temp);
        Outcome o;
        try {
          o = client.Run(place);
        } catch (const Exception& e) {
          o.first = {false, "raised: " + ToUtf8(e.Message())};
        }
        if (!o.first.Success) o.first.Text += damage(o.second, dirBefore, dir.Path(), tempBefore, temp);
        return o.first;
      });
      EXPECT_TRUE(outcome.Ran) << outcome.Text;
      const std::string seen = (outcome.Success ? "ok: " : "") + outcome.Text;
      EXPECT_TRUE(std::regex_search(seen, std::regex(c.Expect))) << seen;
      EXPECT_EQ(outcome.Success, wantsSuccess) << seen;
      EXPECT_EQ(seen.find("FILES:"), std::string::npos) << seen;  // a file damaged or left behind
      EXPECT_LT(outcome.Seconds, c.Seconds);
      if (harness::kMemoryMeasured) {
        EXPECT_LT(outcome.GrowthKiB, c.MemoryKiB);
      }
      char line[300];
      std::snprintf(line, sizeof line, "%-10s %-27s %5.2f s  peak %7ld KiB  growth %7ld KiB  %s\n",
                    client.Name, c.Name.c_str(), outcome.Seconds, outcome.PeakKiB, outcome.GrowthKiB,
                    seen.substr(0, 90).c_str());
      table += line;
    }
  }
  std::printf("peak memory per pair:\n%s", table.c_str());
}
