// The Qt windows offscreen: the widget trees of the form models, the logon prompt, the status
// window during a real download; and the program's --gui option (console by default, Qt through
// libQNInetQt loaded at run time, an error without a display).
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <map>

#include "QtFixture.h"
#include "harness/Nginx.h"
#include "harness/Process.h"
#include "harness/TempDir.h"
#include "qninet/core/QNILogOn.h"
#include "qninet/gui/qt/QtBackend.h"
#include "qninet/web/QNInStat.h"
#include "qninet/web/qniupdate.h"
#include "support/NoSystemProxy.h"

namespace fs = std::filesystem;
using namespace qninet;

namespace {

class QtWindows : public QtFixture {};

// The Qt class each model class becomes (the bevel is a plain painted widget).
const std::map<std::string, std::string> kQtClass = {
    {"TLabel", "QLabel"}, {"TEdit", "QLineEdit"},           {"TButton", "QPushButton"}, {"TPanel", "QFrame"},
    {"TImage", "QLabel"}, {"TProgressBar", "QProgressBar"}, {"TBevel", "QWidget"}};

// The widgets Tab reaches, in order, from the window round to itself.
std::vector<std::string> focus_chain(QWidget* window) {
  std::vector<std::string> names;
  for (QWidget* w = window->nextInFocusChain(); w != window; w = w->nextInFocusChain())
    if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(window))
      names.push_back(w->objectName().toStdString());
  return names;
}

// The widget shows what its control holds: text, alignment, weight, echo, the picture.
void check_widget(TControl& m, QWidget* w, const std::string& defaultButton) {
  if (auto* l = dynamic_cast<TLabel*>(&m)) {
    const auto* ql = static_cast<QLabel*>(w);
    EXPECT_EQ(ql->text(), q(l->Caption()));
    EXPECT_EQ(bool(ql->alignment() & Qt::AlignRight), l->Alignment() == taRightJustify);
    EXPECT_EQ(ql->font().bold(), l->Bold());
  } else if (auto* b = dynamic_cast<TButton*>(&m)) {
    EXPECT_EQ(static_cast<QPushButton*>(w)->text(), q(b->Caption()));
    EXPECT_EQ(static_cast<QPushButton*>(w)->isDefault(), ToUtf8(b->Name()) == defaultButton);
  } else if (auto* e = dynamic_cast<TEdit*>(&m)) {
    EXPECT_EQ(static_cast<QLineEdit*>(w)->text(), q(e->Text()));
    EXPECT_EQ(static_cast<QLineEdit*>(w)->echoMode() == QLineEdit::Password, e->PasswordChar() != 0);
  } else if (auto* i = dynamic_cast<TImage*>(&m)) {
    // Every picture is drawn except the steps not reached yet.
    const bool expected = i->ImageIndex() >= 0 || !ToUtf8(i->Name()).starts_with("imgStep");
    const QImage shown = static_cast<QLabel*>(w)->pixmap().toImage();
    EXPECT_EQ(!shown.isNull(), expected);
    // A transparent picture lets the form show through its bottom-left corner.
    if (expected && i->Transparent()) {
      EXPECT_EQ(shown.pixelColor(0, shown.height() - 1).alpha(), 0);
    }
  }
}

TEST_F(QtWindows, FormModelsBecomeWidgetTreesWithTheirGeometryCaptionsAndTabOrder) {
  TfrmQNILogon logon(nullptr);
  logon.edLogin->SetText(u"alice");
  logon.edPassword->SetText(u"secret");
  TfrmQNInetUpdate status(nullptr);
  status.lblCaption->SetCaption(u"QNInet demo");
  status.lblDescription->SetCaption(u"Fetching the latest version of the demo file from the server.");
  status.lblRemoteFileName->SetCaption(u"127.0.0.1/files/demo.zip");
  status.lblLocalFileName->SetCaption(u"/home/user/demo.zip");
  for (TQNIAction a : {iaConnecting, iaConnected, iaFileSearch, iaCompared, iaDownloading})
    status.ShowAction(a);
  status.ShowProgress(40960, 102400);

  struct Case {
    TForm* Form;
    const char* Shot;
    std::vector<std::string> Tabs;
    std::string Default;
  };
  for (const Case& c : {Case{&logon, "logon", {"edLogin", "edPassword", "btnOk", "btnCancel"}, "btnOk"},
                        Case{&status, "status", {"btnCancel"}, ""}}) {
    SCOPED_TRACE(c.Shot);
    c.Form->Show();
    QWidget* window = gui::QtWindowOf(*c.Form);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->objectName(), q(c.Form->Name()));
    EXPECT_EQ(window->windowTitle(), q(c.Form->Caption()));
    EXPECT_EQ(window->size(), QSize(c.Form->ClientWidth(), c.Form->ClientHeight()));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());  // not resizable
    EXPECT_FALSE(window->windowIcon().isNull());
    for (TControl* m : c.Form->Controls()) {
      SCOPED_TRACE(ToUtf8(m->Name()));
      auto* w = window->findChild<QWidget*>(q(m->Name()));
      ASSERT_NE(w, nullptr);
      EXPECT_EQ(w->metaObject()->className(), kQtClass.at(ToUtf8(m->ClassName())));
      EXPECT_EQ(w->geometry(), QRect(m->Left(), m->Top(), m->Width(), m->Height()));
      EXPECT_EQ(w->parentWidget()->objectName(), q(m->Parent() ? m->Parent()->Name() : c.Form->Name()));
      check_widget(*m, w, c.Default);
    }
    EXPECT_EQ(focus_chain(window), c.Tabs);
    screenshot(window, c.Shot);
    c.Form->Hide();
    EXPECT_EQ(gui::QtWindowOf(*c.Form), nullptr);
  }

  // The step images are the state images of their actions, and the bar shows the share.
  status.Show();
  QWidget* window = gui::QtWindowOf(status);
  const QImage underWay = QPixmap(":/qninet/state0.png").toImage(),
               connected = QPixmap(":/qninet/state2.png").toImage();
  auto step = [&](const char* name) { return window->findChild<QLabel*>(name)->pixmap().toImage(); };
  EXPECT_EQ(step("imgStep1"), connected);
  EXPECT_EQ(step("imgStep3"), underWay);
  EXPECT_NE(step("imgStep2"), underWay);
  EXPECT_EQ(window->findChild<QProgressBar*>("pbStatus")->value(), 40960);
  EXPECT_EQ(window->findChild<QProgressBar*>("pbStatus")->maximum(), 102400);
  status.ShowProgress(5'000'000'000, 10'000'000'000);  // beyond int: shown as a share
  const auto* bar = window->findChild<QProgressBar*>("pbStatus");
  EXPECT_EQ(bar->value() * 2, bar->maximum());
}

TEST_F(QtWindows, LogonReturnsTheEditedValuesOnlyWhenConfirmed) {
  struct Case {
    const char* Name;
    String Caption;    // also the title; none: "Enter Password"
    const char* User;  // typed over the given value; null leaves it
    const char* Password;
    std::function<void(QWidget*)> Close;
    bool Result;
    String WantUser, WantPassword;
  };
  auto key = [](Qt::Key k) { return [k](QWidget* w) { QTest::keyClick(w->focusWidget(), k); }; };
  auto button = [](const char* name) {
    return [name](QWidget* w) { QTest::mouseClick(w->findChild<QPushButton*>(name), Qt::LeftButton); };
  };
  const Case cases[] = {
      {"enter", u"", "alice", "s3cret", key(Qt::Key_Return), true, u"alice", u"s3cret"},
      {"ok button", u"Proxy", "carol", nullptr, button("btnOk"), true, u"carol", u"old"},
      {"empty fields", u"", "", "", key(Qt::Key_Return), true, u"", u""},
      {"escape", u"", "alice", "s3cret", key(Qt::Key_Escape), false, u"bob", u"old"},
      {"cancel button", u"", "alice", nullptr, button("btnCancel"), false, u"bob", u"old"},
      {"title bar", u"", "alice", nullptr, [](QWidget* w) { w->close(); }, false, u"bob", u"old"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    QString title;
    when_shown("frmQNILogon", [&](QWidget* w) {
      title = w->windowTitle();
      for (auto [edit, text] : {std::pair{"edLogin", c.User}, std::pair{"edPassword", c.Password}}) {
        if (!text) continue;
        auto* e = w->findChild<QLineEdit*>(edit);
        e->setFocus();
        e->clear();
        QTest::keyClicks(e, text);
      }
      c.Close(w);
    });
    String user = u"bob", password = u"old";
    EXPECT_EQ(QNInAskLogon(c.Caption, user, password), c.Result);
    EXPECT_EQ(user, c.WantUser);
    EXPECT_EQ(password, c.WantPassword);
    EXPECT_EQ(title, q(c.Caption.empty() ? u"Enter Password" : c.Caption));
  }
}

TEST_F(QtWindows, MessageBoxesAnswerWithTheButtonPressedAndTimersTickOnTheEventLoop) {
  const struct {
    std::int32_t Flags;
    QMessageBox::StandardButton Press;
    QMessageBox::Icon Icon;
    TModalResult Result;
  } cases[] = {{gui::mbOK | gui::mbIconInformation, QMessageBox::Ok, QMessageBox::Information, mrOk},
               {gui::mbYesNo | gui::mbIconQuestion, QMessageBox::No, QMessageBox::Question, mrNo},
               {gui::mbYesNo, QMessageBox::Yes, QMessageBox::NoIcon, mrYes},
               {gui::mbOKCancel | gui::mbIconWarning, QMessageBox::Cancel, QMessageBox::Warning, mrCancel}};
  for (const auto& c : cases) {
    QString text;
    QMessageBox::Icon icon{};
    when_shown("QNInetMessageBox", [&](QWidget* w) {
      auto* box = static_cast<QMessageBox*>(w);
      text = box->text();
      icon = box->icon();
      box->button(c.Press)->click();
    });
    EXPECT_EQ(gui::Services().MessageBox(u"Proceed?", u"QNInet", c.Flags), c.Result);
    EXPECT_EQ(text, "Proceed?");
    EXPECT_EQ(icon, c.Icon);
  }

  // A tick may stop its own timer; nothing ticks after that.
  int ticks = 0;
  gui::TTimerId id = 0;
  id = gui::Services().StartTimer(5, [&] {
    if (++ticks == 3) gui::Services().StopTimer(id);
  });
  EXPECT_TRUE(gui::Services().RunUntil([&] { return ticks >= 3; }, 5000));
  EXPECT_FALSE(gui::Services().RunUntil([] { return false; }, 60));
  EXPECT_EQ(ticks, 3);
}

// Both act a third of the way in, so the window shows a download under way.
TEST_F(QtWindows, StatusWindowCancelFailsTheRunAndTheTitleBarButtonOnlyHides) {
  test_support::NoSystemProxy noProxy;
  harness::Nginx nginx;
  constexpr std::uint64_t kSize = 3 * 1024 * 1024;
  nginx.WriteLargeFile("big.bin", kSize);
  nginx.Start();
  harness::TempDir dir("qninet-gui");
  for (const bool cancel : {true, false}) {  // else the title-bar button
    SCOPED_TRACE(cancel ? "cancel" : "title bar");
    const fs::path local = dir.Write("big.bin", "old version");
    TQNWebUpdater u(nullptr);
    u.SetURL(FromUtf8(nginx.Url("/big.bin")));
    u.SetLocalFileName(FromUtf8(local.string()));
    u.SetLoginPrompt(false);
    u.StatusDialog()->SetEnabled(true);
    u.StatusDialog()->SetDescription(u"A new version of big.bin is being downloaded.");
    QWidget* acted = nullptr;
    std::uint64_t hiddenAt = 0;  // a progress report after the window was hidden
    u.SetOnProgress([&](TObject*, std::uint64_t cur, std::uint64_t, bool&) {
      if (acted && !hiddenAt && !acted->isVisible()) hiddenAt = cur;
    });
    const auto downloading = [](QWidget* w) {
      const auto* bar = w->findChild<QProgressBar*>("pbStatus");
      return bar->value() > bar->maximum() / 3;
    };
    when_shown(
        "frmQNInetUpdate",
        [&](QWidget* w) {
          if (cancel) screenshot(w, "status-downloading");
          cancel ? QTest::mouseClick(w->findChild<QPushButton*>("btnCancel"), Qt::LeftButton)
                 : void(w->close());
          acted = w;
        },
        downloading);
    EXPECT_EQ(u.Execute(), !cancel);
    EXPECT_NE(acted, nullptr);
    EXPECT_EQ(u.Status(), cancel ? isFailed : isFinished);
    EXPECT_EQ(fs::file_size(local), cancel ? std::string("old version").size() : kSize);
    if (!cancel) {
      EXPECT_GT(hiddenAt, 0u) << "the run went on with the window hidden";
    }
  }
}

}  // namespace

TEST(ProgramGui, GuiOptionPicksTheBackendOrSaysWhyNot) {
  harness::Nginx nginx;
  nginx.WriteLargeFile("big.bin", 300000);
  nginx.Start();
  harness::TempDir dir("qninet-gui-program");
  const std::string local = dir.File("big.bin").string();
  const std::vector<std::string> noDisplay = {"/usr/bin/env", "-u", "QT_QPA_PLATFORM", "-u",
                                              "DISPLAY",      "-u", "WAYLAND_DISPLAY"};
  std::vector<std::string> qtAsked = noDisplay, offscreen = {"/usr/bin/env", "QT_QPA_PLATFORM=offscreen"};
  qtAsked.push_back("QNINET_GUI=qt");
  const struct {
    std::vector<std::string> Env, Args;
    int Exit;
    std::string InStdout, InOutput;
  } cases[] = {
      {{}, {"about"}, 0, "\nTQNWhoIs - ", ""},
      {{}, {"--gui=console", "about"}, 0, "\nTQNMSTranslator - ", ""},
      {{}, {"about", "--gui", "nope"}, 2, "", "unknown --gui 'nope'"},
      {noDisplay, {"--gui", "qt", "about"}, 2, "", "no display"},
      {qtAsked, {"about"}, 0, "\nTQNWhoIs - ", "QNINET_GUI=qt ignored"},
      // The status window is a Qt window here: the run goes through it to the end.
      {offscreen, {"--gui", "qt", "update", "--status", nginx.Url("/big.bin"), local}, 0, "isFinished", ""},
  };
  for (const auto& c : cases) {
    std::vector<std::string> argv = c.Env;
    argv.push_back(QNINET_PROGRAM);
    argv.insert(argv.end(), c.Args.begin(), c.Args.end());
    const harness::RunResult r = harness::RunToCompletion(argv);
    SCOPED_TRACE(r.Output);
    EXPECT_EQ(r.ExitCode, c.Exit);
    EXPECT_NE(r.Stdout.find(c.InStdout), std::string::npos);
    EXPECT_NE(r.Output.find(c.InOutput), std::string::npos);
  }
  EXPECT_EQ(std::filesystem::file_size(local), 300000u);
}
