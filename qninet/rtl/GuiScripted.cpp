#include "qninet/rtl/GuiScripted.h"

#include <algorithm>

namespace qninet::gui {

namespace {
TGuiServices* g_current_scripted = nullptr;
}

TScriptedGui::TScriptedGui() {
  FPrevious = g_current_scripted;
  g_current_scripted = this;
  SetServices(this);
}

TScriptedGui::~TScriptedGui() {
  g_current_scripted = FPrevious;
  SetServices(FPrevious);
}

TScriptedGui::Shown TScriptedGui::Snapshot(const TForm& form, bool modal) {
  Shown s;
  s.FormName = form.Name();
  s.FormClass = form.ClassName();
  s.Caption = form.Caption();
  s.Modal = modal;
  for (const TControl* c : form.Controls()) {
    if (const auto* l = dynamic_cast<const TLabel*>(c))
      s.Texts[c->Name()] = l->Caption();
    else if (const auto* b = dynamic_cast<const TButton*>(c))
      s.Texts[c->Name()] = b->Caption();
    else if (const auto* e = dynamic_cast<const TEdit*>(c))
      s.Texts[c->Name()] = e->Text();
  }
  for (const TControl* c : form.ControlsInTabOrder())
    if (c->TabOrder() >= 0) s.TabOrder.push_back(c->Name());
  return s;
}

TModalResult TScriptedGui::ShowModal(TForm& form) {
  FShown.push_back(Snapshot(form, true));
  if (FAnswers.empty()) return mrCancel;
  Answer a = std::move(FAnswers.front());
  FAnswers.pop_front();
  for (const auto& [name, text] : a.Edits)
    if (auto* e = dynamic_cast<TEdit*>(form.FindControl(name))) e->SetText(text);
  if (a.Action) a.Action(form);
  return a.Result;
}

void TScriptedGui::ShowModeless(TForm& form) {
  if (std::find(FModeless.begin(), FModeless.end(), &form) == FModeless.end()) FModeless.push_back(&form);
}

void TScriptedGui::HideForm(TForm& form) {
  const auto it = std::find(FModeless.begin(), FModeless.end(), &form);
  if (it == FModeless.end()) return;
  FShown.push_back(Snapshot(form, false));
  FModeless.erase(it);
}

void TScriptedGui::FormChanged(TForm&) { ++FChangedCount; }

void TScriptedGui::ProcessMessages() {
  ++FProcessCount;
  RunPosted();
  if (FOnMessages)
    for (TForm* f : std::vector<TForm*>(FModeless)) FOnMessages(*f);
  FTimers.FireDue();
}

TModalResult TScriptedGui::MessageBox(const String& text, const String& caption, std::int32_t flags) {
  FMessages.push_back({text, caption, flags});
  if (FMessageAnswers.empty()) return mrOk;
  const TModalResult r = FMessageAnswers.front();
  FMessageAnswers.pop_front();
  return r;
}

TTimerId TScriptedGui::StartTimer(std::uint32_t intervalMs, std::function<void()> tick) {
  return FTimers.Start(intervalMs, std::move(tick));
}

void TScriptedGui::StopTimer(TTimerId id) { FTimers.Stop(id); }

}  // namespace qninet::gui
