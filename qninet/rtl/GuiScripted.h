#pragma once
// A GUI backend for tests: answers modal forms from a queue, records what was shown, and lets
// a test act on modeless forms whenever the library processes messages.

#include <deque>
#include <functional>
#include <map>
#include <vector>

#include "qninet/rtl/GuiTimers.h"
#include "qninet/rtl/Forms.h"

namespace qninet::gui {

/// A GUI backend for tests and scripts: modal forms and message boxes are answered from queues, and every
/// form shown is recorded.
class QNINET_API TScriptedGui : public TGuiServices {
public:
  /// How the next modal form is answered: edits to fill (by control name), an action on the
  /// live form, then the result.
  struct Answer {
    /// The modal result the form closes with.
    TModalResult Result = mrOk;
    /// Texts to put into edits before closing, by control name.
    std::map<String, String> Edits;
    /// Runs on the live form before it closes, when set.
    std::function<void(TForm&)> Action;
  };
  /// What a shown form looked like when it was shown (modal) or hidden (modeless).
  struct Shown {
    /// The form's name.
    String FormName;
    /// The form's class name.
    String FormClass;
    /// The form's caption.
    String Caption;
    /// Whether it was shown modally.
    bool Modal = false;
    std::map<String, String> Texts;  ///< captions of labels and buttons, texts of edits
    std::vector<String> TabOrder;    ///< names of the controls with a tab order
  };
  /// A message box that was shown.
  struct Message {
    /// The message.
    String Text;
    /// The box's caption.
    String Caption;
    /// The buttons and icon asked for (`MessageBox`'s flags).
    std::int32_t Flags;
  };

  /// Installs itself as the backend; the destructor restores the previous one.
  TScriptedGui();
  ~TScriptedGui() override;

  /// Queues the answer of the next modal form; without one a modal form is cancelled.
  void AnswerNextModal(Answer answer) { FAnswers.push_back(std::move(answer)); }
  /// Queues the answer of the next message box; without one it answers `mrOk`.
  void AnswerNextMessage(TModalResult result) { FMessageAnswers.push_back(result); }
  /// Called with every modeless form that is showing, at each `ProcessMessages`.
  void SetOnMessages(std::function<void(TForm&)> handler) { FOnMessages = std::move(handler); }

  /// Every form shown, in order.
  const std::vector<Shown>& ShownForms() const { return FShown; }
  /// Every message box shown, in order.
  const std::vector<Message>& Messages() const { return FMessages; }
  /// How many times `ProcessMessages` ran.
  int ProcessMessagesCount() const { return FProcessCount; }
  /// How many times `FormChanged` was called.
  int FormChangedCount() const { return FChangedCount; }
  /// The modeless forms showing now.
  const std::vector<TForm*>& ModelessForms() const { return FModeless; }
  /// The timers started and not stopped, run by `ProcessMessages`.
  TimerList& Timers() { return FTimers; }

  TModalResult ShowModal(TForm& form) override;
  void ShowModeless(TForm& form) override;
  void HideForm(TForm& form) override;
  void FormChanged(TForm& form) override;
  void ProcessMessages() override;
  TModalResult MessageBox(const String& text, const String& caption, std::int32_t flags) override;
  TTimerId StartTimer(std::uint32_t intervalMs, std::function<void()> tick) override;
  void StopTimer(TTimerId id) override;

  /// What `form` looks like now, as `ShownForms` records it.
  static Shown Snapshot(const TForm& form, bool modal);

private:
  std::deque<Answer> FAnswers;
  std::deque<TModalResult> FMessageAnswers;
  std::function<void(TForm&)> FOnMessages;
  std::vector<Shown> FShown;
  std::vector<Message> FMessages;
  std::vector<TForm*> FModeless;
  TimerList FTimers;
  int FProcessCount = 0;
  int FChangedCount = 0;
  TGuiServices* FPrevious = nullptr;
};

}  // namespace qninet::gui
