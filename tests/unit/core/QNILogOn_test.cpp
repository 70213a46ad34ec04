#include <gtest/gtest.h>

#include <optional>

#include "qninet/core/QNILogOn.h"
#include "qninet/core/QNInCnst.h"
#include "qninet/rtl/GuiScripted.h"

#include <sys/wait.h>
#include <unistd.h>

using namespace qninet;

// The dialog opens with the values passed in; only OK hands back what was typed, and nobody to
// answer means Cancel. An empty caption keeps the form's own.
TEST(LogonPrompt, OkReturnsTheEditsAndAnythingElseLeavesBothStrings) {
  const struct {
    std::optional<gui::TScriptedGui::Answer> Answer;
    String Caption;
    bool Result;
    const char16_t *User, *Password, *Shown;
  } cases[] = {
      {gui::TScriptedGui::Answer{mrOk, {{u"edLogin", u"alice"}, {u"edPassword", u"s3cret"}}, nullptr},
       strQNInProxyLogon, true, u"alice", u"s3cret", u"Proxy Server authorization"},
      {gui::TScriptedGui::Answer{mrCancel, {{u"edLogin", u"typed"}, {u"edPassword", u"typed"}}, nullptr},
       u"x", false, u"old", u"oldpw", u"x"},
      {std::nullopt, u"", false, u"old", u"oldpw", u"Enter Password"},
      {gui::TScriptedGui::Answer{mrOk, {{u"edLogin", u""}, {u"edPassword", u""}}, nullptr}, u"", true, u"",
       u"", u"Enter Password"},
      // the scripted result stands for how the backend closed; a click sets the model's
      {gui::TScriptedGui::Answer{
           mrNone, {{u"edLogin", u"bob"}}, [](TForm& f) { static_cast<TfrmQNILogon&>(f).btnOk->Click(); }},
       u"", false, u"old", u"oldpw", u"Enter Password"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(ToUtf8(k.Shown));
    gui::TScriptedGui gui;
    if (k.Answer) gui.AnswerNextModal(*k.Answer);
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

TEST(LogonForm, ControlsCaptionsGeometryTabOrderAndButtons) {
  TfrmQNILogon form(nullptr);
  EXPECT_EQ(form.Name(), u"frmQNILogon");
  EXPECT_EQ(form.Caption(), u"Enter Password");
  EXPECT_EQ(form.ClientWidth(), 305);
  EXPECT_EQ(form.ClientHeight(), 105);
  EXPECT_EQ(form.lblLogin->Caption(), u"User ID:");
  EXPECT_EQ(form.lblPassword->Caption(), u"Password:");
  EXPECT_EQ(form.lblPassword->Alignment(), taRightJustify);
  EXPECT_EQ(form.btnOk->Caption(), u"&OK");
  EXPECT_TRUE(form.btnOk->Default());
  EXPECT_EQ(form.btnCancel->Caption(), u"&Cancel");
  EXPECT_TRUE(form.btnCancel->Cancel());
  EXPECT_EQ(form.edPassword->Left(), 144);
  EXPECT_EQ(form.edPassword->Top(), 32);
  EXPECT_NE(form.edPassword->PasswordChar(), 0);  // never shown as typed
  EXPECT_EQ(form.edLogin->PasswordChar(), 0);
  const auto tab = gui::TScriptedGui::Snapshot(form, true).TabOrder;
  EXPECT_EQ(tab, (std::vector<String>{u"edLogin", u"edPassword", u"btnOk", u"btnCancel"}));
  EXPECT_EQ(form.imgKey->Picture()->Graphic()->Width(), 24);
  EXPECT_EQ(form.imgKey->Picture()->Graphic()->Height(), 24);
  form.btnCancel->Click();
  EXPECT_EQ(form.ModalResult(), mrCancel);
  form.btnOk->Click();
  EXPECT_EQ(form.ModalResult(), mrOk);
}

TEST(MessageTable, InitialTextsAndAssignedTranslations) {
  EXPECT_EQ(strQNInProgress, u"Downloaded %d of %d bytes (%d%%)");
  EXPECT_EQ(strQNInEHost, u"Host/Address is not defined.");
  const String saved = strQNInLogon;
  strQNInLogon = u"Anmeldung am HTTP-Server";
  gui::TScriptedGui gui;
  String user, password;
  QNInAskLogon(strQNInLogon, user, password);
  EXPECT_EQ(gui.ShownForms().at(0).Caption, u"Anmeldung am HTTP-Server");
  strQNInLogon = saved;
}

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
