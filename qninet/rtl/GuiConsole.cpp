// The console backend: modal prompts on the controlling terminal, modeless forms as one status
// line on standard error. Without a terminal nothing waits: prompts answer Cancel at once.

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "qninet/rtl/GuiConsole.h"
#include "qninet/rtl/ComCtrls.h"
#include "qninet/rtl/GuiTimers.h"
#include "qninet/sys/Terminal.h"
#include "qninet/rtl/Forms.h"

namespace qninet::gui {

namespace {

using Clock = std::chrono::steady_clock;

std::string strip_access_key(const String& caption) {
  String out;
  for (std::size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == u'&' && i + 1 < caption.size() && caption[i + 1] != u'&') continue;
    out.push_back(caption[i]);
  }
  return ToUtf8(out);
}

// The label that names an edit: its FocusControl, else the label on the same row to its left.
const TLabel* label_for(const TForm& form, const TControl* edit) {
  const TLabel* best = nullptr;
  for (const TControl* c : form.Controls()) {
    const auto* l = dynamic_cast<const TLabel*>(c);
    if (!l) continue;
    if (l->FocusControl() == edit) return l;
    const Integer mid = l->Top() + l->Height() / 2;
    if (l->Left() < edit->Left() && mid >= edit->Top() && mid <= edit->Top() + edit->Height()) best = l;
  }
  return best;
}

// A form that shows a tree (the news window) is printed whole on standard output: there is
// nothing to answer, so it does not wait.
bool has_tree(const TForm& form) {
  for (const TControl* c : form.Controls())
    if (dynamic_cast<const TTreeView*>(c)) return true;
  return false;
}

bool print_trees(const TForm& form) {
  bool any = false;
  for (const TControl* c : form.Controls())
    if (const auto* tree = dynamic_cast<const TTreeView*>(c)) {
      if (!any && !form.Caption().empty()) std::printf("%s\n", ToUtf8(form.Caption()).c_str());
      std::fputs(ToUtf8(tree->Describe()).c_str(), stdout);
      any = true;
    }
  if (any) std::fflush(stdout);
  return any;
}

class ConsoleServices final : public TGuiServices {
public:
  TModalResult ShowModal(TForm& form) override {
    if (print_trees(form)) return mrOk;
    sys::Terminal tty;
    if (!tty.Ok() || !sys::stdin_is_terminal()) return mrCancel;
    tty.Write(ToUtf8(form.Caption()) + "\n");
    for (TControl* c : form.ControlsInTabOrder()) {
      auto* edit = dynamic_cast<TEdit*>(c);
      if (!edit || !edit->Visible() || !edit->Enabled()) continue;
      const TLabel* l = label_for(form, edit);
      std::string prompt = l ? strip_access_key(l->Caption()) : ToUtf8(edit->Name());
      const bool hidden = edit->PasswordChar() != 0;
      if (!edit->Text().empty()) prompt += hidden ? " [keep]" : " [" + ToUtf8(edit->Text()) + "]";
      tty.Write(prompt + " ");
      std::string line;
      if (!tty.ReadLine(line, hidden)) {
        tty.Write("\n");
        return mrCancel;
      }
      if (!line.empty()) edit->SetText(FromUtf8(line));
    }
    return mrOk;
  }

  void ShowModeless(TForm& form) override {
    if (print_trees(form)) return;
    FLast.clear();
    FLastDraw = {};
    draw(form, true);
  }

  void HideForm(TForm& form) override {
    if (has_tree(form)) return;
    draw(form, true);
    if (FOnLine) std::fputs("\n", stderr);
    FOnLine = false;
  }

  void FormChanged(TForm& form) override {
    if (!has_tree(form)) draw(form, false);
  }

  void ProcessMessages() override {
    RunPosted();
    FTimers.FireDue();
  }

  TModalResult MessageBox(const String& text, const String& caption, std::int32_t flags) override {
    const bool question = (flags & 0x0F) != mbOK;
    std::fprintf(stderr, "%s: %s\n", ToUtf8(caption).c_str(), ToUtf8(text).c_str());
    if (!question) return mrOk;
    sys::Terminal tty;
    if (!tty.Ok()) return (flags & 0x0F) == mbYesNo ? mrNo : mrCancel;
    tty.Write((flags & 0x0F) == mbYesNo ? "[y/N] " : "[o/C] ");
    std::string line;
    const bool yes = tty.ReadLine(line, false) && !line.empty() && (line[0] == 'y' || line[0] == 'o');
    if ((flags & 0x0F) == mbYesNo) return yes ? mrYes : mrNo;
    return yes ? mrOk : mrCancel;
  }

  TTimerId StartTimer(std::uint32_t intervalMs, std::function<void()> tick) override {
    return FTimers.Start(intervalMs, std::move(tick));
  }
  void StopTimer(TTimerId id) override { FTimers.Stop(id); }

private:
  // A terminal gets one line redrawn in place; a pipe or file gets a line per change, at most
  // one a second, so a long transfer does not flood a log.
  void draw(TForm& form, bool force) {
    const std::string text = ToUtf8(form.StatusText());
    if (!force && text == FLast) return;
    const auto now = Clock::now();
    const bool tty = sys::stderr_is_terminal();
    const auto gap = tty ? std::chrono::milliseconds(50) : std::chrono::milliseconds(1000);
    if (!force && now - FLastDraw < gap) return;
    if (force && text == FLast && !FOnLine) return;
    FLast = text;
    FLastDraw = now;
    if (tty) {
      std::fprintf(stderr, "\r\x1b[2K%s", text.c_str());
      FOnLine = true;
    } else {
      std::fprintf(stderr, "%s\n", text.c_str());
    }
    std::fflush(stderr);
  }

  TimerList FTimers;
  std::string FLast;
  Clock::time_point FLastDraw{};
  bool FOnLine = false;
};

}  // namespace

TGuiServices& console_services() {
  static ConsoleServices services;
  return services;
}

}  // namespace qninet::gui
