#include <gtest/gtest.h>

#include "qninet/core/QNILogOn.h"

#include <sys/wait.h>
#include <unistd.h>

using namespace qninet;

// (The values passed in, the caption, and what OK, Cancel, Escape and the title bar hand back:
// the Qt window test, which types and presses, and the prompted proxy rows against tinyproxy.)
TEST(LogonPrompt, ConsoleWithoutATerminalAnswersCancelAtOnce) {
  // A child without a controlling terminal must not wait for input that cannot come.
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    setsid();
    alarm(10);  // a prompt that waits would be killed by the alarm and fail the test
    String user = u"u", password = u"p";
    const bool ok = QNInAskLogon(u"x", user, password);
    _exit(!ok && user == u"u" && password == u"p" ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
