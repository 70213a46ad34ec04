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

class QNINET_API TScriptedGui : public TGuiServices {
public:
  /// How the next modal form is answered: edits to fill (by control name), an action on the
  /// live form, then the result.
  struct Answer {
    TModalResult Result = mrOk;
    std::map<String, String> Edits;
    std::function<void(TForm&)> Action;
  };
  /// What a shown form looked like when it was shown (modal) or hidden (modeless).
  struct Shown {
    String FormName;
    String FormClass;
    String Caption;
    bool Modal = false;
    std::map<String, String> Texts;  ///< captions of labels and buttons, texts of edits
    std::vector<String> TabOrder;    ///< names of the controls with a tab order
  };
  struct Message {
    String Text;
    String Caption;
    std::int32_t Flags;
  };

  /// Installs itself as the backend; the destructor restores the previous one.
  TScriptedGui();
  ~TScriptedGui() override;

  void AnswerNextModal(Answer answer) { FAnswers.push_back(std::move(answer)); }
  void AnswerNextMessage(TModalResult result) { FMessageAnswers.push_back(result); }
  /// Called with every modeless form that is showing, at each `ProcessMessages`.
  void SetOnMessages(std::function<void(TForm&)> handler) { FOnMessages = std::move(handler); }

  const std::vector<Shown>& ShownForms() const { return FShown; }
  const std::vector<Message>& Messages() const { return FMessages; }
  int ProcessMessagesCount() const { return FProcessCount; }
  int FormChangedCount() const { return FChangedCount; }
  const std::vector<TForm*>& ModelessForms() const { return FModeless; }
  TimerList& Timers() { return FTimers; }

  TModalResult ShowModal(TForm& form) override;
  void ShowModeless(TForm& form) override;
  void HideForm(TForm& form) override;
  void FormChanged(TForm& form) override;
  void ProcessMessages() override;
  TModalResult MessageBox(const String& text, const String& caption, std::int32_t flags) override;
  TTimerId StartTimer(std::uint32_t intervalMs, std::function<void()> tick) override;
  void StopTimer(TTimerId id) override;

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
