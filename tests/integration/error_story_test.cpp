// One rule per family, against real servers: the socket components raise for their own input
// (before connecting) and for a connection that cannot be made, and report everything after it
// in the returned text and LastError; the web components report through Status. A server that
// accepts and then stays silent is the real one stopped (SIGSTOP): the kernel still completes
// the connect, nothing answers, and each time-out names the endpoint and what never came.

#include <signal.h>

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "harness/ServerLaunch.h"
#include "qninet/socket/QNIHTTP.h"
#include "qninet/socket/QNISMTP.h"
#include "qninet/web/qniupdate.h"

using namespace qninet;

namespace {

// A real server that can be stopped in place, and is let go again before it is shut down.
template <class TServer>
struct Stoppable : TServer {
  using TServer::TServer;
  ~Stoppable() override { Signal(SIGCONT); }
  void Signal(int signal) {
    if (this->FProcess) ::kill(-this->FProcess->Pid(), signal);
  }
};

struct Outcome {
  bool Raised = false;
  std::string Message;
};

Outcome run_socket(TQNInetBase& c) {
  try {
    const String text = c.Execute();
    EXPECT_EQ(text, c.LastError());  // a reported failure is the returned text and LastError
    return {false, ToUtf8(c.LastError())};
  } catch (const Exception& e) {
    return {true, e.what()};
  }
}

TEST(ErrorStory, EachFamilyRaisesLocalInputAndReportsWhatTheServerDid) {
  Stoppable<harness::SmtpServer> smtp;
  Stoppable<harness::Nginx> web;
  web.WriteFile("tool.bin", "x");
  web.Start();
  harness::TempDir dir("qninet-error-story");
  const std::string at_smtp = "127.0.0.1:" + std::to_string(smtp.Port());
  const std::string at_web = "127.0.0.1:" + std::to_string(web.Port());

  const auto mail = [&](bool attachment) {
    TQNISMTP c(nullptr);
    c.SetHost(u"127.0.0.1");
    c.SetPort(smtp.Port());
    c.SetTimeout(500);
    c.From()->SetAddress(u"ann@qninet.test");
    c.Recipients()->SetEMailAddresses(u"bob@qninet.test");
    if (attachment) c.Attachments()->Add()->SetFileName(u"/nonexistent/report.pdf");
    return run_socket(c);
  };
  const struct {
    const char* Name;
    std::function<Outcome()> Run;
    bool Raises;
    std::string Message;  // the whole message, or its start when it ends in "..."
    bool Stopped;         // the server accepts and stays silent
  } rows[] = {
      {"missing attachment", [&] { return mail(true); }, true,
       "Attachment /nonexistent/report.pdf cannot be read: ...", false},
      {"no greeting", [&] { return mail(false); }, false, "no greeting from " + at_smtp + " within 500 ms",
       true},
      {"socket client, silent server",
       [&] {
         TQNIHTTPClient c(nullptr);
         c.SetHost(u"127.0.0.1");
         c.SetPort(web.Port());
         c.SetTimeout(500);
         c.SetRequest(u"/tool.bin");
         return run_socket(c);
       },
       false, at_web + ": timed out waiting for data after 500 ms", true},
      {"updater, silent server",
       [&] {
         TQNWebUpdater c(nullptr);
         c.SetLocalFileName(FromUtf8(dir.File("tool.bin").string()));
         c.SetURL(FromUtf8(web.Url("/tool.bin")));
         c.SetTimeout(500);
         c.Execute();
         EXPECT_EQ(c.Status(), isFailed);
         return Outcome{false, ToUtf8(c.LastErrorText())};
       },
       false, at_web + ": timed out waiting for data after 500 ms", true},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.Name);
    smtp.Signal(r.Stopped ? SIGSTOP : SIGCONT);
    web.Signal(r.Stopped ? SIGSTOP : SIGCONT);
    const Outcome got = r.Run();
    EXPECT_EQ(got.Raised, r.Raises) << got.Message;
    if (r.Message.ends_with("..."))
      EXPECT_TRUE(got.Message.starts_with(r.Message.substr(0, r.Message.size() - 3))) << got.Message;
    else
      EXPECT_EQ(got.Message, r.Message);
  }
  smtp.Signal(SIGCONT);
  // Refused before connecting: the live server never saw the sender.
  EXPECT_EQ(harness::ReadFileText(smtp.Dir() / "received.log"), "");
}

}  // namespace
