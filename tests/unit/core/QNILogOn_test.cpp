#include <gtest/gtest.h>

#include "qninet/core/QNILogOn.h"
#include "qninet/core/QNInCnst.h"
#include "qninet/rtl/GuiScripted.h"

using namespace qninet;

TEST(LogonPrompt, OkReturnsTheEditedValues) {
  gui::TScriptedGui gui;
  gui.AnswerNextModal({mrOk, {{u"edLogin", u"alice"}, {u"edPassword", u"s3cret"}}, nullptr});
  String user = u"old", password = u"oldpw";
  EXPECT_TRUE(QNInAskLogon(strQNInProxyLogon, user, password));
  EXPECT_EQ(user, u"alice");
  EXPECT_EQ(password, u"s3cret");
  ASSERT_EQ(gui.ShownForms().size(), 1u);
  const auto& shown = gui.ShownForms()[0];
  EXPECT_TRUE(shown.Modal);
  EXPECT_EQ(shown.Caption, u"Proxy Server authorization");
  EXPECT_EQ(shown.Texts.at(u"edLogin"), u"old");  // the dialog opened with the values passed in
  EXPECT_EQ(shown.Texts.at(u"edPassword"), u"oldpw");
}

TEST(LogonPrompt, CancelLeavesBothStringsExactlyAsPassed) {
  gui::TScriptedGui gui;
  gui.AnswerNextModal({mrCancel, {{u"edLogin", u"typed"}, {u"edPassword", u"typed"}}, nullptr});
  String user = u"u", password = u"p";
  EXPECT_FALSE(QNInAskLogon(u"x", user, password));
  EXPECT_EQ(user, u"u");
  EXPECT_EQ(password, u"p");
}

TEST(LogonPrompt, NobodyToAnswerMeansCancel) {
  gui::TScriptedGui gui;  // no queued answer
  String user = u"u", password = u"p";
  EXPECT_FALSE(QNInAskLogon(u"", user, password));
  EXPECT_EQ(user, u"u");
}

TEST(LogonPrompt, EmptyCaptionKeepsEnterPassword) {
  gui::TScriptedGui gui;
  gui.AnswerNextModal({mrOk, {}, nullptr});
  String user, password;
  QNInAskLogon(u"", user, password);
  EXPECT_EQ(gui.ShownForms().at(0).Caption, u"Enter Password");
}

TEST(LogonPrompt, ConfirmedEmptyPairReturnsTrue) {
  gui::TScriptedGui gui;
  gui.AnswerNextModal({mrOk, {{u"edLogin", u""}, {u"edPassword", u""}}, nullptr});
  String user = u"a", password = u"b";
  EXPECT_TRUE(QNInAskLogon(u"c", user, password));
  EXPECT_EQ(user, u"");
  EXPECT_EQ(password, u"");
}

TEST(LogonPrompt, ButtonsCloseWithTheirResults) {
  gui::TScriptedGui gui;
  gui.AnswerNextModal(
      {mrNone, {{u"edLogin", u"bob"}}, [](TForm& f) { static_cast<TfrmQNILogon&>(f).btnOk->Click(); }});
  // The scripted answer's result stands for how the backend closed; a click sets the model's.
  String user, password;
  EXPECT_FALSE(QNInAskLogon(u"", user, password));
  TfrmQNILogon form(nullptr);
  form.btnCancel->Click();
  EXPECT_EQ(form.ModalResult(), mrCancel);
  form.btnOk->Click();
  EXPECT_EQ(form.ModalResult(), mrOk);
}

TEST(LogonForm, ControlsCaptionsGeometryAndTabOrder) {
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
  const std::vector<String> expected{u"edLogin", u"edPassword", u"btnOk", u"btnCancel"};
  EXPECT_EQ(tab, expected);
  EXPECT_EQ(form.imgKey->Picture()->Graphic()->Width(), 24);
  EXPECT_EQ(form.imgKey->Picture()->Graphic()->Height(), 24);
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

#include <sys/wait.h>
#include <unistd.h>

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
