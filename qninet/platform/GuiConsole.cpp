// The console backend: modal prompts on the controlling terminal, modeless forms as one status
// line on standard error. Without a terminal nothing waits: prompts answer Cancel at once.

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "qninet/platform/GuiTimers.h"
#include "qninet/rtl/Forms.h"

namespace qninet::gui {

namespace {

using Clock = std::chrono::steady_clock;

class Terminal {
public:
  Terminal() { FFd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC); }
  ~Terminal() {
    if (FFd >= 0) ::close(FFd);
  }
  bool Ok() const { return FFd >= 0 && ::isatty(FFd); }
  void Write(const std::string& s) {
    std::size_t done = 0;
    while (done < s.size()) {
      const ssize_t n = ::write(FFd, s.data() + done, s.size() - done);
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  }
  /// Reads one line; false at end of input or when Escape is typed first.
  bool ReadLine(std::string& line, bool hidden) {
    termios saved{};
    const bool have = ::tcgetattr(FFd, &saved) == 0;
    if (hidden && have) {
      termios quiet = saved;
      quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      ::tcsetattr(FFd, TCSAFLUSH, &quiet);
    }
    line.clear();
    bool ok = false;
    for (;;) {
      char c;
      const ssize_t n = ::read(FFd, &c, 1);
      if (n <= 0) break;
      if (c == '\n' || c == '\r') {
        ok = true;
        break;
      }
      if (c == '\x1b' && line.empty()) break;
      line.push_back(c);
    }
    if (hidden && have) {
      ::tcsetattr(FFd, TCSAFLUSH, &saved);
      Write("\n");
    }
    return ok;
  }

private:
  int FFd = -1;
};

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

class ConsoleServices final : public TGuiServices {
public:
  TModalResult ShowModal(TForm& form) override {
    Terminal tty;
    if (!tty.Ok() || !::isatty(STDIN_FILENO)) return mrCancel;
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
    FLast.clear();
    FLastDraw = {};
    draw(form, true);
  }

  void HideForm(TForm& form) override {
    draw(form, true);
    if (FOnLine) std::fputs("\n", stderr);
    FOnLine = false;
  }

  void FormChanged(TForm& form) override { draw(form, false); }

  void ProcessMessages() override { FTimers.FireDue(); }

  TModalResult MessageBox(const String& text, const String& caption, std::int32_t flags) override {
    const bool question = (flags & 0x0F) != mbOK;
    std::fprintf(stderr, "%s: %s\n", ToUtf8(caption).c_str(), ToUtf8(text).c_str());
    if (!question) return mrOk;
    Terminal tty;
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
    const bool tty = ::isatty(STDERR_FILENO) == 1;
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
