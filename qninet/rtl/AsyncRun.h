#pragma once
// Asynchronous runs: one component's run on a worker thread, every event it raises handed to
// the thread that started it through the GUI services' posting queue, and the guards that keep
// the application's thread off a running component.

#include <functional>
#include <memory>

#include "qninet/rtl/Classes.h"

namespace qninet {

/// The end of an asynchronous run: `Success` as the synchronous run would have returned it.
using TQNIDoneEvent = std::function<void(TObject* Sender, bool Success)>;

/// The asynchronous run of one component. The engines' base classes own one each.
///
/// `Start` runs the work on a worker thread. While it runs, `OnStartingThread` called on that
/// worker hands its call to the starting thread's message processing and waits for it, so a
/// handler runs where the application's windows live and may answer by reference. When the
/// work has ended, the finish runs on the starting thread: `Busy` turns false, then the finish
/// callback (the component's `OnDone`). Every member but `OnWorker` is for the starting thread.
class QNINET_API TAsyncRunner {
public:
  /// The run's work on the worker thread; returns whether the run succeeded. An exception
  /// that leaves it counts as a failure.
  using TWork = std::function<bool()>;
  /// Called on the starting thread once the work has ended, with its success.
  using TFinish = std::function<void(bool Success)>;

  /// A runner for the asynchronous runs of `Owner`.
  explicit TAsyncRunner(const TComponent& Owner);
  /// Stops a run still in progress (see `Stop`).
  ~TAsyncRunner();

  /// Starts `Work` on a new worker thread and returns at once. Raises `EInvalidOperation`
  /// "NAME is already running" while a run is in progress.
  void Start(TWork Work, TFinish Finish);
  /// Whether a run is in progress: from `Start` until its finish ran on this thread.
  bool Busy() const;
  /// Processes messages on this thread (posted events included) until the run has ended and
  /// its finish ran. Returns at once when none is in progress.
  void Wait();
  /// Ends a run in progress without its finish: events not yet delivered are dropped, a
  /// handler the worker waits for is given up (the worker's `OnStartingThread` raises
  /// `EAbort`), and the worker is joined. The component's own cancel flag must be set first
  /// so that the work ends soon. Never throws.
  void Stop() noexcept;
  /// Raises `EInvalidOperation` "NAME is already running" when a run is in progress and the
  /// caller is not its worker (a second run, synchronous or not).
  void RefuseSecondRun() const;
  /// Whether the calling thread is this runner's worker.
  bool OnWorker() const;

  /// The state of one run, shared with its worker and its posted events (opaque).
  struct TState;

private:
  std::shared_ptr<TState> FState;
};

/// Runs `Call` where the component's events belong: on the worker of an asynchronous run it is
/// posted to the starting thread and the worker waits until it ran (its exception is raised
/// here again; `EAbort` when the run was stopped meanwhile); on any other thread it runs at
/// once.
QNINET_API void OnStartingThread(const std::function<void()>& Call);
/// Whether the calling thread is the worker of an asynchronous run.
QNINET_API bool InAsyncWorker();
/// The choke point of every write to a published property: raises `EInvalidOperation` "NAME is
/// running: its properties cannot be written until it is done" when `Object` is a component
/// in an asynchronous run and the caller is not that run's worker. Cheap while no run is in
/// progress anywhere.
QNINET_API void RefuseWriteWhileRunning(const TObject& Object);

}  // namespace qninet
