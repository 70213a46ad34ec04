#include <gtest/gtest.h>

#include "qninet/rtl/GuiScripted.h"
#include "qninet/rtl/Forms.h"

using namespace qninet;

TEST(FormModel, ModelessFormsRepaintOnlyWhileShown) {
  gui::TScriptedGui gui;
  TForm form(nullptr);
  auto* status = new TLabel(&form);
  status->SetName(u"lblStatus");
  status->SetCaption(u"idle");
  EXPECT_EQ(gui.FormChangedCount(), 0);
  form.Show();
  status->SetCaption(u"busy");
  auto* bar = new TProgressBar(&form);
  bar->SetMax(Int64{5} << 32);  // byte counts beyond 4 GiB fit
  bar->SetPosition(Int64{3} << 32);
  EXPECT_GE(gui.FormChangedCount(), 3);
  EXPECT_EQ(form.StatusText(), u"busy");
  form.Hide();
  const int after = gui.FormChangedCount();
  status->SetCaption(u"done");
  EXPECT_EQ(gui.FormChangedCount(), after);
  ASSERT_EQ(gui.ShownForms().size(), 1u);
  EXPECT_EQ(gui.ShownForms()[0].Texts.at(u"lblStatus"), u"busy");
  {
    TForm shown(nullptr);
    shown.Show();
    EXPECT_EQ(gui.ModelessForms().size(), 1u);
  }
  EXPECT_TRUE(gui.ModelessForms().empty());  // destroying a shown form hides it
}

TEST(FormModel, ProcessMessagesLetsAHandlerClickCancel) {
  gui::TScriptedGui gui;
  TForm form(nullptr);
  auto* cancel = new TButton(&form);
  cancel->SetName(u"btnCancel");
  bool canceled = false;
  cancel->SetOnClick([&](TObject*) { canceled = true; });
  gui.SetOnMessages([](TForm& f) { static_cast<TButton*>(f.FindControl(u"btnCancel"))->Click(); });
  form.Show();
  Application().ProcessMessages();
  EXPECT_TRUE(canceled);
  cancel->SetEnabled(false);
  canceled = false;
  Application().ProcessMessages();
  EXPECT_FALSE(canceled);  // a disabled button does not click
}

// A designing timer never runs; a disabled one no longer ticks. (Real ticks through the event
// loop: the remote image's timer in async_test.)
TEST(Timers, DesigningTimersNeverRunAndDisabledOnesStop) {
  gui::TScriptedGui gui;
  TTimer designing(nullptr);
  designing.SetDesigning(true);
  designing.SetOnTimer([](TObject*) {});
  EXPECT_EQ(gui.Timers().Count(), 0u);
  TTimer timer(nullptr);
  int ticks = 0;
  timer.SetOnTimer([&](TObject*) { ++ticks; });
  EXPECT_EQ(gui.Timers().Count(), 1u);
  timer.SetEnabled(false);
  EXPECT_EQ(gui.Timers().Count(), 0u);
  gui.Timers().FireAll();
  gui.ProcessMessages();
  EXPECT_EQ(ticks, 0);
}
