// The status form model and how the engine prepares and drives it.

#include <gtest/gtest.h>

#include "harness/TempDir.h"
#include "qninet/rtl/GuiScripted.h"
#include "qninet/rtl/Forms.h"
#include "qninet/web/QNInStat.h"
#include "qninet/web/qniupdate.h"

using namespace qninet;

TEST(StatusForm, ControlsAndCaptions) {
  TfrmQNInetUpdate f(nullptr);
  EXPECT_EQ(f.Caption(), u"Software update");
  EXPECT_EQ(f.lblRemote->Caption(), u"Remote file:");
  EXPECT_EQ(f.lblLocal->Caption(), u"Local file:");
  EXPECT_EQ(f.lblStep1->Caption(), u"Step 1: Connection/Logon");
  EXPECT_EQ(f.lblStep2->Caption(), u"Step 2: File search");
  EXPECT_EQ(f.lblStep3->Caption(), u"Step 3: Download");
  EXPECT_EQ(f.lblStep4->Caption(), u"Step 4: Diconnect/Logoff");
  EXPECT_EQ(f.btnCancel->Caption(), u"&Cancel");
  EXPECT_EQ(f.lblDescription->Parent(), f.pnlDescription);
  EXPECT_EQ(f.pbStatus->Max(), 100);
  std::vector<String> order;
  for (TControl* c : f.ControlsInTabOrder())
    if (c->TabOrder() >= 0) order.push_back(c->Name());
  EXPECT_EQ(order, (std::vector<String>{u"pnlDescription", u"btnCancel", u"pbStatus"}));
  f.btnCancel->Click();
  EXPECT_TRUE(f.IsCanceled);
}

TEST(StatusForm, ActionsSetTheirStepImages) {
  TfrmQNInetUpdate f(nullptr);
  f.ShowAction(iaConnecting);
  EXPECT_EQ(f.imgStep1->ImageIndex(), 0);
  EXPECT_EQ(f.lblStatus->Caption(), u"Connecting...");
  f.ShowAction(iaConnected);
  EXPECT_EQ(f.imgStep1->ImageIndex(), 2);
  f.ShowAction(iaCompared);
  EXPECT_EQ(f.imgStep2->ImageIndex(), 3);
  f.ShowAction(iaDownloaded);
  EXPECT_EQ(f.imgStep3->ImageIndex(), 4);
  f.ShowAction(iaDisconnected);
  EXPECT_EQ(f.imgStep4->ImageIndex(), 5);
  EXPECT_EQ(f.lblStatus->Caption(), u"Disconnected.");
  f.ShowAction(iaIdle);
  EXPECT_EQ(f.lblStatus->Caption(), u"Disconnected.");
  f.ShowProgress(2050, 4100);
  EXPECT_EQ(f.lblStatus->Caption(), u"Downloaded 2050 of 4100 bytes (50%)");
  EXPECT_EQ(f.StatusText(),
            u"[x] Connect  [x] Search  [x] Download  [x] Disconnect  Downloaded 2050 of 4100 bytes (50%) "
            u"[##########..........]");
}

TEST(ProgressPercent, ExactForHugeValues) {
  EXPECT_EQ(progress_percent(1, 3), 33u);
  EXPECT_EQ(progress_percent(0, 0), 0u);
  EXPECT_EQ(progress_percent(UINT64_MAX - 1, UINT64_MAX), 99u);
  EXPECT_EQ(progress_percent(5000000000ull, 5000000000ull), 100u);
  EXPECT_EQ(progress_percent(300000000ull * 1000, 600000000ull * 1000), 50u);
}

namespace {

// A web component that is no updater: it only connects and disconnects.
class Lister : public TQNCustomWebComponent {
public:
  using TQNCustomWebComponent::TQNCustomWebComponent;
  TfrmQNInetUpdate* Seen = nullptr;
  Integer Step2 = -2, Step3 = -2;
  bool RemoteVisible = true;
  String Caption, Description;

protected:
  void InternalExecute() override {
    SetAction(iaConnecting);
    SetAction(iaConnected);
    SetAction(iaDisconnecting);
    SetAction(iaDisconnected);
    Seen = StatusForm();
    if (!StatusForm()) return;
    Step2 = StatusForm()->imgStep2->ImageIndex();
    Step3 = StatusForm()->imgStep3->ImageIndex();
    RemoteVisible = StatusForm()->lblRemoteFileName->Visible();
    Caption = StatusForm()->lblCaption->Caption();
    Description = StatusForm()->lblDescription->Caption();
  }
};

}  // namespace

TEST(StatusDialogRun, NonUpdaterHidesFileNamesAndUsesTheApplicationTitle) {
  gui::TScriptedGui gui;
  Application().SetTitle(u"My App");
  Lister l(nullptr);
  l.StatusDialog()->SetEnabled(true);
  l.StatusDialog()->SetDescription(u"Fetching the list");
  EXPECT_TRUE(l.Execute());
  EXPECT_NE(l.Seen, nullptr);
  EXPECT_EQ(l.Step2, -1);
  EXPECT_EQ(l.Step3, -1);
  EXPECT_FALSE(l.RemoteVisible);
  EXPECT_EQ(l.Caption, u"My App");
  EXPECT_EQ(l.Description, u"Fetching the list");
  EXPECT_GE(gui.ProcessMessagesCount(), 4);
  EXPECT_TRUE(gui.ModelessForms().empty());
  Application().SetTitle(String());
}

TEST(StatusDialogRun, DisabledShowsNothingButEventsFire) {
  gui::TScriptedGui gui;
  Lister l(nullptr);
  int changes = 0;
  l.SetOnActionChange([&](TObject*) { ++changes; });
  EXPECT_TRUE(l.Execute());
  EXPECT_EQ(l.Seen, nullptr);
  EXPECT_EQ(changes, 4);
  EXPECT_TRUE(gui.ShownForms().empty());
}

TEST(StatusDialogRun, UpdaterShowsHostRemoteAndLocalNames) {
  gui::TScriptedGui gui;
  harness::TempDir dir{"qninet-stat"};
  const auto src = dir.Write("a.txt", "abc");
  TQNWebUpdater u(nullptr);
  u.SetService(isNetwork);
  u.SetHost(u"server");
  u.SetRemoteFileName(FromUtf8(src.string()));
  u.SetLocalFileName(FromUtf8(dir.File("b.txt").string()));
  u.StatusDialog()->SetEnabled(true);
  u.StatusDialog()->SetTitle(u"Updating");
  EXPECT_TRUE(u.Execute());
  ASSERT_EQ(gui.ShownForms().size(), 1u);
  const auto& shown = gui.ShownForms()[0];
  EXPECT_EQ(shown.Texts.at(u"lblRemoteFileName"), u"server" + FromUtf8(src.string()));
  EXPECT_EQ(shown.Texts.at(u"lblLocalFileName"), FromUtf8(dir.File("b.txt").string()));
  EXPECT_EQ(shown.Texts.at(u"lblCaption"), u"Updating");
  EXPECT_EQ(shown.Texts.at(u"lblStatus"), u"Disconnected.");
}

TEST(StatusDialogSettings, AssignCopiesTheSettingsAndRefusesForeignClasses) {
  TQNInetStatusDialog a, b;
  a.SetEnabled(true);
  a.SetHelpContext(12);
  a.SetTitle(u"T");
  a.SetDescription(u"D");
  b.Assign(&a);
  EXPECT_TRUE(b.Enabled());
  EXPECT_EQ(b.HelpContext(), 12);
  EXPECT_EQ(b.Title(), u"T");
  EXPECT_EQ(b.Description(), u"D");
  TQNInetProxy p;
  EXPECT_THROW(b.Assign(&p), EConvertError);
}
