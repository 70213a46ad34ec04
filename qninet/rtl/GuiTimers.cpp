#include "qninet/rtl/GuiTimers.h"

#include <algorithm>

namespace qninet::gui {

TTimerId TimerList::Start(std::uint32_t intervalMs, std::function<void()> tick) {
  const auto interval = std::chrono::milliseconds(intervalMs);
  FTimers.push_back({FNext, interval, std::chrono::steady_clock::now() + interval, std::move(tick)});
  return FNext++;
}

void TimerList::Stop(TTimerId id) {
  FTimers.erase(std::remove_if(FTimers.begin(), FTimers.end(), [id](const Timer& t) { return t.Id == id; }),
                FTimers.end());
}

int TimerList::FireDue() { return fire(false); }
int TimerList::FireAll() { return fire(true); }

int TimerList::fire(bool all) {
  // A tick may start or stop timers, so work from the ids due now.
  const auto now = std::chrono::steady_clock::now();
  std::vector<TTimerId> due;
  for (const auto& t : FTimers)
    if (all || t.Due <= now) due.push_back(t.Id);
  int fired = 0;
  for (TTimerId id : due) {
    auto it = std::find_if(FTimers.begin(), FTimers.end(), [id](const Timer& t) { return t.Id == id; });
    if (it == FTimers.end()) continue;
    it->Due = now + it->Interval;
    auto tick = it->Tick;  // the timer may be stopped inside its own tick
    tick();
    ++fired;
  }
  return fired;
}

}  // namespace qninet::gui
