#pragma once
// Timers that the text backends fire from their event loop.

#include <chrono>
#include <functional>
#include <vector>

#include "qninet/rtl/Forms.h"

namespace qninet::gui {

/// The timers of a GUI backend that runs them from its message processing.
class QNINET_API TimerList {
public:
  /// Starts a timer that calls `tick` every `intervalMs` milliseconds; returns its id.
  TTimerId Start(std::uint32_t intervalMs, std::function<void()> tick);
  /// Stops the timer `id`; an unknown id is ignored.
  void Stop(TTimerId id);
  /// Calls every timer whose time has come, once each; returns how many fired.
  int FireDue();
  /// Calls every running timer once, due or not.
  int FireAll();
  /// The number of timers running.
  std::size_t Count() const { return FTimers.size(); }

private:
  struct Timer {
    TTimerId Id;
    std::chrono::milliseconds Interval;
    std::chrono::steady_clock::time_point Due;
    std::function<void()> Tick;
  };
  int fire(bool all);
  std::vector<Timer> FTimers;
  TTimerId FNext = 1;
};

}  // namespace qninet::gui
