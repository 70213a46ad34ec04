#include "qninet/rtl/Forms.h"

#include "qninet/rtl/GuiConsole.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

#include "qninet/rtl/AsyncRun.h"

#include "qninet/sys/Desktop.h"
#include "qninet/sys/Files.h"
#include "qninet/rtl/TypInfo.h"

namespace qninet {

QNINET_CLASS_INFO(TControl)
QNINET_CLASS_INFO(TLabel)
QNINET_CLASS_INFO(TEdit)
QNINET_CLASS_INFO(TButton)
QNINET_CLASS_INFO(TBevel)
QNINET_CLASS_INFO(TPanel)
QNINET_CLASS_INFO(TImage)
QNINET_CLASS_INFO(TProgressBar)
QNINET_CLASS_INFO(TForm)
QNINET_CLASS_INFO(TTimer, Published("Enabled", &Self::Enabled, &Self::SetEnabled, true),
                  Published("Interval", &Self::Interval, &Self::SetInterval, 1000),
                  PublishedEvent("OnTimer", &Self::OnTimer))

TControl::TControl(TComponent* AOwner) : TComponent(AOwner) {}

TControl::~TControl() {
  TForm* form = OwnerForm();
  if (!form) return;
  Owner()->RemoveComponent(this);
  form->Changed();
}

void TControl::SetBounds(Integer left, Integer top, Integer width, Integer height) {
  FLeft = left, FTop = top, FWidth = width, FHeight = height;
  Changed();
}

void TControl::SetVisible(bool value) {
  if (value == FVisible) return;
  FVisible = value;
  Changed();
}

void TControl::SetEnabled(bool value) {
  if (value == FEnabled) return;
  FEnabled = value;
  Changed();
}

TForm* TControl::OwnerForm() const {
  for (TComponent* c = Owner(); c; c = c->Owner())
    if (auto* f = dynamic_cast<TForm*>(c)) return f;
  return nullptr;
}

void TControl::Changed() {
  if (TForm* f = OwnerForm()) f->Changed();
}

void TLabel::SetCaption(const String& value) {
  if (value == FCaption) return;
  FCaption = value;
  Changed();
}

TEdit::TEdit(TComponent* AOwner) : TControl(AOwner) { SetTabStop(true); }

void TEdit::SetText(const String& value) {
  if (value == FText) return;
  FText = value;
  Changed();
}

TButton::TButton(TComponent* AOwner) : TControl(AOwner) { SetTabStop(true); }

void TButton::SetCaption(const String& value) {
  FCaption = value;
  Changed();
}

void TButton::Click() {
  if (!Enabled()) return;
  if (FOnClick) FOnClick(this);
  if (FModalResult != mrNone)
    if (TForm* f = OwnerForm()) f->SetModalResult(FModalResult);
}

TImage::TImage(TComponent* AOwner) : TControl(AOwner), FPicture(std::make_unique<TPicture>()) {}
TImage::~TImage() = default;

void TImage::SetPicture(const TPicture* value) {
  FPicture->Assign(value);
  Changed();
}

void TImage::SetImageIndex(Integer value) {
  if (value == FImageIndex) return;
  FImageIndex = value;
  Changed();
}

void TProgressBar::SetMin(Int64 value) {
  FMin = value;
  Changed();
}

void TProgressBar::SetMax(Int64 value) {
  FMax = value;
  Changed();
}

void TProgressBar::SetPosition(Int64 value) {
  if (value == FPosition) return;
  FPosition = value;
  Changed();
}

TForm::TForm(TComponent* AOwner) : TComponent(AOwner), FIcon(std::make_unique<TIcon>()) {}

TForm::~TForm() {
  if (FShowing) {
    FShowing = false;
    gui::Services().HideForm(*this);
  }
  // Controls go while the form is still a form, so their changes find no stale owner.
  DestroyComponents();
}

void TForm::SetCaption(const String& value) {
  FCaption = value;
  Changed();
}

void TForm::SetBounds(Integer left, Integer top, Integer clientWidth, Integer clientHeight) {
  FLeft = left, FTop = top, FClientWidth = clientWidth, FClientHeight = clientHeight;
}

void TForm::SetFont(const String& name, Integer height) {
  FFontName = name;
  FFontHeight = height;
}

TModalResult TForm::ShowModal() {
  // A form raised inside an asynchronous run (a logon prompt) is shown by the starting thread,
  // where the windows live; the worker waits for the answer.
  if (InAsyncWorker()) {
    TModalResult r = mrCancel;
    OnStartingThread([&] { r = ShowModal(); });
    return r;
  }
  FModalResult = mrNone;
  FShowing = true;
  TModalResult r = mrCancel;
  try {
    r = gui::Services().ShowModal(*this);
  } catch (...) {
    FShowing = false;
    throw;
  }
  FShowing = false;
  FModalResult = r;
  return r;
}

void TForm::Show() {
  if (InAsyncWorker()) return OnStartingThread([this] { Show(); });
  FShowing = true;
  gui::Services().ShowModeless(*this);
}

void TForm::Hide() {
  if (InAsyncWorker()) return OnStartingThread([this] { Hide(); });
  if (!FShowing) return;
  FShowing = false;
  gui::Services().HideForm(*this);
}

std::vector<TControl*> TForm::Controls() const {
  std::vector<TControl*> out;
  // Controls may own nothing, but a panel's controls are owned by the form too.
  for (int i = 0; i < ComponentCount(); ++i)
    if (auto* c = dynamic_cast<TControl*>(Components(i))) out.push_back(c);
  return out;
}

std::vector<TControl*> TForm::ControlsInTabOrder() const {
  std::vector<TControl*> all = Controls();
  std::stable_sort(all.begin(), all.end(), [](const TControl* a, const TControl* b) {
    const bool ha = a->TabOrder() >= 0, hb = b->TabOrder() >= 0;
    if (ha != hb) return ha;
    return ha && a->TabOrder() < b->TabOrder();
  });
  return all;
}

TControl* TForm::FindControl(StringView name) const { return dynamic_cast<TControl*>(FindComponent(name)); }

void TForm::Changed() {
  if (FShowing && InAsyncWorker()) return OnStartingThread([this] { Changed(); });
  if (FShowing) gui::Services().FormChanged(*this);
}

String TForm::StatusText() const {
  String out;
  for (const TControl* c : Controls()) {
    const auto* l = dynamic_cast<const TLabel*>(c);
    if (!l || !l->Visible() || l->Caption().empty()) continue;
    if (!out.empty()) out += u" | ";
    out += l->Caption();
  }
  return out;
}

namespace gui {

struct TGuiServices::TPostQueue {
  std::mutex Lock;
  std::condition_variable Arrived;
  std::deque<std::function<void()>> Work;
};

TGuiServices::TGuiServices() : FPosted(std::make_unique<TPostQueue>()) {}
TGuiServices::~TGuiServices() = default;

void TGuiServices::Post(std::function<void()> work) {
  {
    std::lock_guard lock(FPosted->Lock);
    FPosted->Work.push_back(std::move(work));
  }
  FPosted->Arrived.notify_all();
}

int TGuiServices::RunPosted() {
  // Only what is queued now: work that posts more waits for the next round, so a stream of
  // events cannot starve the timers.
  std::deque<std::function<void()>> now;
  {
    std::lock_guard lock(FPosted->Lock);
    now.swap(FPosted->Work);
  }
  for (auto& work : now) work();
  return static_cast<int>(now.size());
}

void TGuiServices::WaitForMessages(std::uint32_t timeoutMs) {
  {
    std::unique_lock lock(FPosted->Lock);
    FPosted->Arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [this] { return !FPosted->Work.empty(); });
  }
  ProcessMessages();
}

bool TGuiServices::RunUntil(const std::function<bool()>& done, std::uint32_t timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    ProcessMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

bool TGuiServices::KnowsPictureFormat(const std::string& format) {
  return format == "png" || format == "jpeg" || format == "gif" || format == "bmp" || format == "ico";
}

bool TGuiServices::ReadPicture(const std::string& format, std::string_view bytes, Integer& width,
                               Integer& height) {
  std::string found;
  return probe_image(bytes, found, width, height) && found == format;
}

namespace {
// Read by worker threads too (a run's backend is taken when it starts).
std::atomic<TGuiServices*> g_services{nullptr};
std::atomic<bool> g_chosen{false};

// QNINET_GUI=qt: the Qt backend installs itself through SetServices when it can show windows.
void choose_from_environment() {
  g_chosen = true;
  const char* env = std::getenv("QNINET_GUI");
  if (env && std::string_view(env) == "qt") (void)LoadQtBackend();
}
}  // namespace

// The one place the Qt backend is loaded: by name, so the package never links Qt.
String LoadQtBackend() {
  const sys::Result<int> used =
      sys::call_library_function("libQNInetQt.so." QNINET_SOVERSION, "qninet_use_qt_backend");
  if (!used) return used.failure().Text;
  return *used ? String() : u"no display (set DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM)";
}

TGuiServices& Services() {
  if (!g_chosen) choose_from_environment();
  TGuiServices* services = g_services.load();
  return services ? *services : console_services();
}

void SetServices(TGuiServices* services) {
  g_chosen = true;
  g_services = services;
}

}  // namespace gui

String TApplication::Title() const {
  if (!FTitle.empty()) return FTitle;
  return ChangeFileExt(ExtractFileName(FromUtf8(sys::executable_path())), u"");
}

void TApplication::ProcessMessages() {
  if (!InAsyncWorker()) gui::Services().ProcessMessages();
}

TModalResult TApplication::MessageBox(const String& text, const String& caption, std::int32_t flags) {
  if (InAsyncWorker()) {
    TModalResult r = mrCancel;
    OnStartingThread([&] { r = MessageBox(text, caption, flags); });
    return r;
  }
  return gui::Services().MessageBox(text, caption, flags);
}

TApplication& Application() {
  static TApplication app;
  return app;
}

TTimer::TTimer(TComponent* AOwner) : TComponent(AOwner) {}

TTimer::~TTimer() {
  if (FId) gui::Services().StopTimer(FId);
}

void TTimer::SetEnabled(bool value) {
  FEnabled = value;
  update_timer();
}

void TTimer::SetInterval(Cardinal value) {
  FInterval = value;
  update_timer();
}

void TTimer::SetOnTimer(std::function<void(TObject*)> handler) {
  FOnTimer = std::move(handler);
  update_timer();
}

void TTimer::update_timer() {
  if (FId) {
    gui::Services().StopTimer(FId);
    FId = 0;
  }
  if (FEnabled && FInterval > 0 && FOnTimer && !ComponentState().Contains(csDesigning))
    FId = gui::Services().StartTimer(FInterval, [this] {
      if (FOnTimer) FOnTimer(this);
    });
}

}  // namespace qninet
