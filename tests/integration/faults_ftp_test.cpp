// Hostile and broken FTP servers against the listing: a cut or reset data connection, garbage
// on the control connection, silence and a trickle must end in an error within MaxTime plus a
// second.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>

#include "harness/Forked.h"
#include "harness/ScriptedServer.h"
#include "harness/TempDir.h"
#include "qninet/core/QNInCnst.h"
#include "qninet/rtl/GuiScripted.h"
#include "qninet/web/qnidir.h"
#include "qninet/web/qniupdate.h"
#include "support/NoSystemProxy.h"

using namespace qninet;
using namespace std::chrono_literals;
using harness::CaseResult;
using harness::Script;
using harness::ScriptedServer;

namespace {

constexpr Cardinal kMaxTime = 1;

/// The control connection: answers each command by its verb; `transfer` answers LIST, NLST and
/// RETR (with `wholeList`, RETR alone: the listing is whole), `other` any verb it does not know
/// (empty: "200 ok").
Script control(std::uint16_t dataPort, std::string transfer, std::string other, bool wholeList) {
  const std::string epsv = "229 Entering Extended Passive Mode (|||" + std::to_string(dataPort) + "|)\r\n";
  const auto answer = [=](const std::string& line) -> std::string {
    const std::string verb = line.substr(0, line.find_first_of(" \r"));
    if (verb == "USER") return "331 password\r\n";
    if (verb == "PASS") return "230 in\r\n";
    if (verb == "PWD") return "257 \"/\"\r\n";
    if (verb == "EPSV") return epsv;
    if (verb == "SIZE") return "213 100012\r\n";
    if (verb == "MDTM") return "213 20261207090000\r\n";
    if (wholeList && verb == "MLSD") return "150 here\r\n226 done\r\n";
    if (verb == "LIST" || verb == "NLST" || verb == "RETR") return transfer;
    if (verb == "QUIT") return "221 bye\r\n";
    return other.empty() ? "200 ok\r\n" : other;
  };
  Script s;
  s.Send("220 ready\r\n");
  for (int i = 0; i < 16; ++i)
    s.Reply([](const std::string& got) { return got.find("\r\n") != std::string::npos; }, answer);
  return s;
}

CaseResult ran(TQNCustomWebComponent& c, bool ok, std::string value) {
  if (!ok || c.Status() == isFailed) return {false, ToUtf8(c.LastErrorText())};
  return {true, std::move(value)};
}

std::string status_of(const TQNCustomWebComponent& c) {
  return "status " + std::to_string(c.Status()) + ": " + ToUtf8(c.LastErrorText());
}

struct Client {
  const char* Name;
  std::function<CaseResult(const std::string& url)> Run;
  bool ListsFirst;  ///< whether a whole listing comes before the data connection at fault
};

// The file the updater would replace keeps its old bytes, and its folder gains no file.
CaseResult update(const std::string& url) {
  char pattern[] = "/tmp/qninet-ftp-fault-XXXXXX";
  const std::filesystem::path dir = ::mkdtemp(pattern);
  const auto target = dir / "file.bin";
  harness::WriteFileBytes(target, "old");
  auto& u = *new TQNWebUpdater(nullptr);  // left to _exit, as the run left it
  u.SetURL(FromUtf8(url + "/file.bin"));
  u.SetLocalFileName(FromUtf8(target.string()));
  u.SetTimeout(1000);
  u.SetMaxTime(kMaxTime);
  const bool ok = u.Execute();
  std::string files;
  for (const auto& e : std::filesystem::directory_iterator(dir)) files += e.path().filename().string() + ";";
  const std::string damage =
      harness::ReadFileText(target) != "old" || files != "file.bin;" ? " FILES: " + files : "";
  std::filesystem::remove_all(dir);
  return ran(u, ok && u.Status() == isFinished, status_of(u) + damage);
}

const Client kClients[] = {
    {"listing",
     [](const std::string& url) {
       auto& files = *new TQNRemoteFiles(nullptr);  // left to _exit, as the run left it
       files.SetURL(FromUtf8(url + "/"));
       files.SetTimeout(1000);
       files.SetMaxTime(kMaxTime);
       files.SetWildCard(u"*");
       const bool ok = files.Execute();
       return ran(files, ok && files.Status() == isFinished,
                  status_of(files) + ToUtf8(files.FileList()->Text()));
     },
     false},
    {"updater", update, true},
};

const std::string kLate =
    ToUtf8(Format(strQNInETimeLimit, static_cast<Integer>(kMaxTime))) + "|No data for 1000 ms";

struct Fault {
  const char* Name;
  Script Data;           ///< what the data connection does
  std::string Transfer;  ///< the control's answer to the transfer command
  std::string Other;     ///< the control's answer to the commands it does not know
  bool Silent = false;   ///< the control connection never greets
  std::string Expect;
};

const std::string kListing = "-rw-r--r-- 1 ftp ftp 100012 Dec 07 09:00 file.bin\r\n";

const Fault kFaults[] = {
    {"cut data",
     Script().Send(kListing.substr(0, 20)).Close(),
     "150 here\r\n426 aborted\r\n",
     {},
     false,
     // the listing hears the 426; the updater knows the size and counts the missing bytes
     ": The connection closed after 20( of 100012)? bytes$"},
    // the reset reaches the client while it reads, or as a refused connect, after which it falls
    // back from EPSV to PASV, which this server does not know
    {"reset data",
     Script().Reset(),
     "150 here\r\n",
     {},
     false,
     ": Recv failure: Connection reset by peer$|: Bad PASV/EPSV response: 200$"},
    {"trickle data",
     Script().SendChunks(kListing + std::string(100, 'x'), 1, 100ms),
     "150 here\r\n",
     {},
     false,
     kLate},
    {"garbage replies", Script().Close(), "xyzzy\r\n", "xyzzy\r\n", false, "."},
    {"never greets", Script().Close(), {}, {}, true, kLate},
};

}  // namespace

TEST(FtpFaults, TheListingAndTheUpdaterReportEachFaultWithinTheirBound) {
  if (harness::kSanitized) GTEST_SKIP() << harness::kForkUnderSanitizer;
  test_support::NoSystemProxy noProxy;
  std::string table;
  for (const Client& client : kClients) {
    for (const Fault& fault : kFaults) {
      SCOPED_TRACE(std::string(client.Name) + " / " + fault.Name);
      std::vector<Script> transfers{fault.Data};
      if (client.ListsFirst)
        transfers.insert(transfers.begin(),
                         Script().Send("type=file;size=100012;modify=20261207090000; file.bin\r\n").Close());
      ScriptedServer data(transfers, ScriptedServer::Family::IPv4, 10s, true);
      ScriptedServer ctl(
          {fault.Silent ? Script().HoldOpen()
                        : control(data.Port(), fault.Transfer, fault.Other, client.ListsFirst)},
          ScriptedServer::Family::IPv4, 10s, true);
      const std::string url = "ftp://" + ctl.Authority();
      const auto outcome = harness::RunForked([&] {
        gui::TScriptedGui gui;
        return client.Run(url);
      });
      ASSERT_TRUE(outcome.Ran) << outcome.Text;
      EXPECT_FALSE(outcome.Success) << outcome.Text;
      EXPECT_TRUE(std::regex_search(outcome.Text, std::regex(fault.Expect))) << outcome.Text;
      EXPECT_EQ(outcome.Text.find("FILES:"), std::string::npos) << outcome.Text;
      EXPECT_LT(outcome.Seconds, kMaxTime + 1.0);
      char line[300];
      std::snprintf(line, sizeof line, "%-11s %-16s %5.2f s  peak %6ld KiB  growth %6ld KiB  %s\n",
                    client.Name, fault.Name, outcome.Seconds, outcome.PeakKiB, outcome.GrowthKiB,
                    outcome.Text.substr(0, 90).c_str());
      table += line;
    }
  }
  std::printf("peak memory per pair:\n%s", table.c_str());
}
