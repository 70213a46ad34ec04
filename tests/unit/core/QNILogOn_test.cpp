#include <gtest/gtest.h>

#include "qninet/core/QNILogOn.h"
#include "qninet/rtl/GuiScripted.h"

#include <sys/wait.h>
#include <unistd.h>

using namespace qninet;

// The dialog opens with the values passed in; only OK hands back what was typed. An empty caption
// keeps the form's own. (OK with the edits, and nobody to answer as Cancel: the prompted proxy
// rows against tinyproxy.)
TEST(LogonPrompt, OkReturnsTheEditsAndAnythingElseLeavesBothStrings) {
  const struct {
    gui::TScriptedGui::Answer Answer;
    String Caption;
    bool Result;
    const char16_t *User, *Password, *Shown;
  } cases[] = {
      {gui::TScriptedGui::Answer{mrCancel, {{u"edLogin", u"typed"}, {u"edPassword", u"typed"}}, nullptr},
       u"x", false, u"old", u"oldpw", u"x"},
      {gui::TScriptedGui::Answer{mrOk, {{u"edLogin", u""}, {u"edPassword", u""}}, nullptr}, u"", true, u"",
       u"", u"Enter Password"},
      // the scripted result stands for how the backend closed; a click sets the model's
      {gui::TScriptedGui::Answer{
           mrNone, {{u"edLogin", u"bob"}}, [](TForm& f) { static_cast<TfrmQNILogon&>(f).btnOk->Click(); }},
       u"", false, u"old", u"oldpw", u"Enter Password"}};
  for (const auto& k : cases) {
    SCOPED_TRACE(ToUtf8(k.Shown));
    gui::TScriptedGui gui;
    gui.AnswerNextModal(k.Answer);
    String user = u"old", password = u"oldpw";
    EXPECT_EQ(QNInAskLogon(k.Caption, user, password), k.Result);
    EXPECT_EQ(user, k.User);
    EXPECT_EQ(password, k.Password);
    ASSERT_EQ(gui.ShownForms().size(), 1u);
    const auto& shown = gui.ShownForms()[0];
    EXPECT_TRUE(shown.Modal);
    EXPECT_EQ(shown.Caption, k.Shown);
    EXPECT_EQ(shown.Texts.at(u"edLogin"), u"old");
    EXPECT_EQ(shown.Texts.at(u"edPassword"), u"oldpw");
  }
}

// (The password hidden and the buttons' results: the Qt window test, which types and presses.)
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
