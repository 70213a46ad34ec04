#include "qninet/rtl/AsyncRun.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "qninet/rtl/Forms.h"

namespace qninet {

struct TAsyncRunner::TState {
  const TComponent* Owner = nullptr;
  String Name;
  gui::TGuiServices* Poster = nullptr;  ///< the starting thread's backend
  std::thread Worker;                   ///< touched by the starting thread only
  std::atomic<bool> Busy{false};
  std::mutex Lock;
  std::condition_variable Changed;
  bool Abandoned = false;  ///< under Lock: nothing more is delivered
};

namespace {

// The run whose worker this thread is, so that events find their way without the component.
thread_local std::shared_ptr<TAsyncRunner::TState> t_run;

// The components in an asynchronous run, for the write guard. The count spares every property
// write the lock while no run is in progress.
std::atomic<int> g_running{0};
std::mutex g_running_lock;
std::vector<std::pair<const TObject*, const TAsyncRunner::TState*>> g_running_list;

void enlist(const TObject* owner, const TAsyncRunner::TState* state) {
  std::lock_guard lock(g_running_lock);
  g_running_list.emplace_back(owner, state);
  ++g_running;
}

void delist(const TAsyncRunner::TState* state) {
  std::lock_guard lock(g_running_lock);
  const auto it = std::find_if(g_running_list.begin(), g_running_list.end(),
                               [state](const auto& e) { return e.second == state; });
  if (it == g_running_list.end()) return;
  g_running_list.erase(it);
  --g_running;
}

String running_name(const TComponent& c) { return c.Name().empty() ? c.ClassName() : c.Name(); }

}  // namespace

TAsyncRunner::TAsyncRunner(const TComponent& Owner) : FState(std::make_shared<TState>()) {
  FState->Owner = &Owner;
}

TAsyncRunner::~TAsyncRunner() { Stop(); }

bool TAsyncRunner::Busy() const { return FState->Busy.load(); }

bool TAsyncRunner::OnWorker() const { return t_run && t_run == FState; }

void TAsyncRunner::RefuseSecondRun() const {
  if (Busy() && !OnWorker()) throw EInvalidOperation(FState->Name + u" is already running");
}

void TAsyncRunner::Start(TWork Work, TFinish Finish) {
  RefuseSecondRun();
  if (OnWorker()) throw EInvalidOperation(FState->Name + u" is already running");
  // A fresh state per run: what an earlier, stopped run left queued still sees its own.
  auto state = std::make_shared<TState>();
  state->Owner = FState->Owner;
  state->Name = running_name(*state->Owner);
  state->Poster = &gui::Services();
  state->Busy = true;
  FState = state;
  enlist(state->Owner, state.get());
  auto body = [state, work = std::move(Work), finish = std::move(Finish)]() mutable {
    t_run = state;
    bool ok = false;
    try {
      ok = work();
    } catch (...) {
      ok = false;
    }
    t_run.reset();
    work = nullptr;  // its captures go on this thread, not in the finish
    std::lock_guard lock(state->Lock);
    if (state->Abandoned) return;
    state->Poster->Post([state, finish = std::move(finish), ok] {
      {
        std::lock_guard inner(state->Lock);
        if (state->Abandoned) return;
      }
      if (state->Worker.joinable()) state->Worker.join();
      delist(state.get());
      state->Busy = false;
      if (finish) finish(ok);
    });
  };
  try {
    state->Worker = std::thread(std::move(body));
  } catch (...) {
    delist(state.get());
    state->Busy = false;
    throw;
  }
}

void TAsyncRunner::Wait() {
  if (OnWorker()) throw EInvalidOperation(FState->Name + u" cannot wait for its own run");
  while (Busy()) FState->Poster->WaitForMessages(20);
}

void TAsyncRunner::Stop() noexcept {
  const std::shared_ptr<TState> state = FState;
  if (!state->Busy) return;
  {
    std::lock_guard lock(state->Lock);
    state->Abandoned = true;
  }
  state->Changed.notify_all();
  if (state->Worker.joinable()) {
    if (state->Worker.get_id() == std::this_thread::get_id())
      state->Worker.detach();
    else
      state->Worker.join();
  }
  delist(state.get());
  state->Busy = false;
}

void OnStartingThread(const std::function<void()>& Call) {
  const std::shared_ptr<TAsyncRunner::TState> state = t_run;
  if (!state) return Call();
  struct Item {
    bool Running = false;
    bool Done = false;
    std::exception_ptr Error;
  };
  auto item = std::make_shared<Item>();
  {
    std::lock_guard lock(state->Lock);
    if (state->Abandoned) throw EAbort(u"The run was stopped.");
  }
  // `Call` lives on this thread's stack: the posted work touches it only while this thread
  // waits for it, and never once the run was given up before it began.
  state->Poster->Post([state, item, &Call] {
    {
      std::lock_guard lock(state->Lock);
      if (state->Abandoned) return;
      item->Running = true;
    }
    try {
      Call();
    } catch (...) {
      item->Error = std::current_exception();
    }
    {
      std::lock_guard lock(state->Lock);
      item->Running = false;
      item->Done = true;
    }
    state->Changed.notify_all();
  });
  std::unique_lock lock(state->Lock);
  state->Changed.wait(lock, [&] { return item->Done || (state->Abandoned && !item->Running); });
  if (!item->Done) throw EAbort(u"The run was stopped.");
  if (item->Error) std::rethrow_exception(item->Error);
}

bool InAsyncWorker() { return static_cast<bool>(t_run); }

void RefuseWriteWhileRunning(const TObject& Object) {
  if (g_running.load() == 0) return;
  std::lock_guard lock(g_running_lock);
  for (const auto& [owner, state] : g_running_list)
    if (owner == &Object && t_run.get() != state)
      throw EInvalidOperation(state->Name +
                              u" is running: its properties cannot be written until it is done");
}

}  // namespace qninet
