// The status form model and how the engine prepares and drives it.

#include <gtest/gtest.h>

#include "harness/TempDir.h"
#include "qninet/rtl/FormFile.h"
#include "qninet/rtl/Forms.h"
#include "qninet/rtl/GuiScripted.h"
#include "qninet/web/QNInStat.h"
#include "qninet/web/qniupdate.h"

using namespace qninet;

// Each action marks its own step (an idle one keeps the last); the console line shows the steps,
// the text and the bar. (The step pictures of each action: the Qt window test.)
TEST(StatusForm, ActionsMarkTheirStepsAndCancelOnlySetsTheFlag) {
  TfrmQNInetUpdate f(nullptr);
  for (TQNIAction a : {iaConnecting, iaConnected, iaCompared, iaDownloaded, iaDisconnected, iaIdle})
    f.ShowAction(a);
  EXPECT_EQ(f.lblStatus->Caption(), u"Disconnected.");
  f.ShowProgress(2050, 4100);
  EXPECT_EQ(f.StatusText(),
            u"[x] Connect  [x] Search  [x] Download  [x] Disconnect  Downloaded 2050 of 4100 bytes (50%) "
            u"[##########..........]");
  f.btnCancel->Click();
  EXPECT_TRUE(f.IsCanceled);
  EXPECT_EQ(f.ModalResult(), mrNone);  // the engine stops the run, the form stays
}

TEST(ProgressPercent, ExactForHugeValues) {
  const std::uint64_t cases[][3] = {
      {1, 3, 33}, {0, 0, 0}, {UINT64_MAX - 1, UINT64_MAX, 99}, {5000000000ull, 5000000000ull, 100}};
  for (const auto& c : cases) EXPECT_EQ(progress_percent(c[0], c[1]), c[2]) << c[0] << "/" << c[1];
}

namespace {

// A web component that is no updater: it only connects and disconnects, and notes what its
// status form showed.
class Lister : public TQNCustomWebComponent {
public:
  using TQNCustomWebComponent::TQNCustomWebComponent;
  std::vector<String> Seen;

protected:
  void InternalExecute() override {
    for (TQNIAction a : {iaConnecting, iaConnected, iaDisconnecting, iaDisconnected}) SetAction(a);
    if (TfrmQNInetUpdate* f = StatusForm())
      Seen = {IntToStr(f->imgStep2->ImageIndex()), IntToStr(f->imgStep3->ImageIndex()),
              f->lblRemoteFileName->Visible() ? u"names" : u"no names", f->lblCaption->Caption(),
              f->lblDescription->Caption()};
  }
};

}  // namespace

TEST(StatusDialogRun, NonUpdaterHidesFileNamesAndDisabledShowsNothingButEventsFire) {
  for (const bool enabled : {true, false}) {
    gui::TScriptedGui gui;
    Application().SetTitle(u"My App");
    Lister l(nullptr);
    int changes = 0;
    l.SetOnActionChange([&](TObject*) { ++changes; });
    l.StatusDialog()->SetEnabled(enabled);
    l.StatusDialog()->SetDescription(u"Fetching the list");
    EXPECT_TRUE(l.Execute());
    EXPECT_EQ(changes, 4);
    const std::vector<String> seen = {u"-1", u"-1", u"no names", u"My App", u"Fetching the list"};
    EXPECT_EQ(l.Seen, enabled ? seen : std::vector<String>{});
    EXPECT_EQ(gui.ShownForms().size(), enabled ? 1u : 0u);
    if (enabled) {
      EXPECT_GE(gui.ProcessMessagesCount(), 4);  // the window is kept drawn
    }
    EXPECT_TRUE(gui.ModelessForms().empty());  // hidden again after the run
    Application().SetTitle(String());
  }
}

TEST(StatusDialogRun, UpdaterShowsHostRemoteAndLocalNames) {
  gui::TScriptedGui gui;
  harness::TempDir dir{"qninet-stat"};
  const String src = FromUtf8(dir.Write("a.txt", "abc").string()), dst = FromUtf8(dir.File("b.txt").string());
  TQNWebUpdater u(nullptr);
  u.SetService(isNetwork);
  u.SetHost(u"server");
  u.SetRemoteFileName(src);
  u.SetLocalFileName(dst);
  u.StatusDialog()->SetEnabled(true);
  u.StatusDialog()->SetTitle(u"Updating");
  EXPECT_TRUE(u.Execute());
  ASSERT_EQ(gui.ShownForms().size(), 1u);
  const auto& texts = gui.ShownForms()[0].Texts;
  EXPECT_EQ(texts.at(u"lblRemoteFileName"), u"server" + src);
  EXPECT_EQ(texts.at(u"lblLocalFileName"), dst);
  EXPECT_EQ(texts.at(u"lblCaption"), u"Updating");
  EXPECT_EQ(texts.at(u"lblStatus"), u"Disconnected.");
}

TEST(StatusDialogSettings, AssignCopiesTheSettingsAndRefusesForeignClasses) {
  TQNInetStatusDialog a, b;
  a.SetEnabled(true);
  a.SetHelpContext(12);
  a.SetTitle(u"T");
  a.SetDescription(u"D");
  b.Assign(&a);
  EXPECT_EQ(WriteObjectToJSON(b), WriteObjectToJSON(a));
  EXPECT_NE(WriteObjectToJSON(b), WriteObjectToJSON(TQNInetStatusDialog()));
  TQNInetProxy p;
  EXPECT_THROW(b.Assign(&p), EConvertError);
}
