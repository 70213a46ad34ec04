#include "qninet/web/qniimage.h"

#include "qninet/rtl/TypInfo.h"
#include "qninet/sys/Files.h"
#include "qninet/web/WebContent.h"

namespace qninet {

QNINET_CLASS_INFO(TQNRemoteImage, Published("Active", &Self::Active, &Self::SetActive),
                  Published("Interval", &Self::Interval, &Self::SetInterval, 1000))

TQNRemoteImage::TQNRemoteImage(TComponent* AOwner)
    : TQNCustomWebUpdater(AOwner), FTimer(new TTimer(this)), FTempSlot(NewTempFileSlot()) {
  FTimer->SetEnabled(false);
}

TQNRemoteImage::~TQNRemoteImage() {
  // A run still going uses the local file and the timer: it ends first.
  StopAsyncRun();
  FTimer->SetEnabled(false);
  SetImage(nullptr);
  DeleteLocalFile();
}

void TQNRemoteImage::SetRemoteFileName(const String& value) {
  // The run in progress writes the local file this would delete.
  RefuseWriteWhileRunning(*this);
  TQNCustomWebUpdater::SetRemoteFileName(value);
  DeleteLocalFile();
  FLocalFileName = PrivateTempFileName(FTempSlot, value);
}

void TQNRemoteImage::DeleteLocalFile() {
  if (!FLocalFileName.empty()) qninet::DeleteLocalFile(FLocalFileName);
}

bool TQNRemoteImage::Execute() {
  // A run in progress keeps the timer off, however it started: the status window processes
  // messages during the transfer, which would fire the timer inside this run. A run that
  // raises leaves it off. The timer and the picture belong to the starting thread.
  OnStartingThread([this] { FTimer->SetEnabled(false); });
  if (FLocalFileName.empty()) FLocalFileName = PrivateTempFileName(FTempSlot, RemoteFileName());
  try {
    const bool result = TQNCustomWebUpdater::Execute();
    OnStartingThread([this] {
      if (FImage && sys::file_exists(ToUtf8(FLocalFileName))) {
        TPicture picture;
        picture.LoadFromFile(FLocalFileName);
        FImage->SetPicture(&picture);
      }
      if (FActive) FTimer->SetEnabled(true);
    });
    return result;
  } catch (const Exception& e) {
    // The timer's run reports its error where the synchronous tick did, and stays off. `Active`
    // may be switched while a run lasts, so it is read on the thread that writes it.
    const bool async = InAsyncWorker();
    OnStartingThread([&] {
      if (FActive && async)
        Application().MessageBox(e.Message(), Application().Title(), gui::mbOK | gui::mbIconError);
    });
    throw;
  }
}

void TQNRemoteImage::SetImage(TImage* value) {
  if (value == FImage) return;
  if (FImage) FImage->RemoveFreeNotification(this);
  FImage = value;
  if (FImage) FImage->FreeNotification(this);
}

void TQNRemoteImage::Notification(TComponent* AComponent, TOperation Operation) {
  TQNCustomWebUpdater::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == FImage) FImage = nullptr;
}

Cardinal TQNRemoteImage::Interval() const { return FTimer->Interval(); }
void TQNRemoteImage::SetInterval(Cardinal value) {
  RefuseWriteWhileRunning(*this);
  FTimer->SetInterval(value);
}
bool TQNRemoteImage::TimerEnabled() const { return FTimer->Enabled(); }

// Unlike the other properties, `Active` may be switched while a run is in progress (`Stop` from
// the application's window): it and the timer belong to the starting thread, where the run
// reads them too.
void TQNRemoteImage::SetActive(bool value) {
  if (value == FActive) return;
  if (value)
    FTimer->SetOnTimer([this](TObject*) { tick(); });
  else
    FTimer->SetOnTimer(nullptr);
  FTimer->SetEnabled(value);
  FActive = value;
}

// Each tick starts an asynchronous run, so the event loop (and this timer) goes on while the
// picture travels; `Execute` keeps the timer off during the run, so runs never overlap and the
// interval counts from the end of one. A run that raises leaves it off: the error is shown, not
// thrown into the event loop.
void TQNRemoteImage::tick() {
  if (Busy()) return;
  try {
    ExecuteAsync();
  } catch (const Exception& e) {
    Application().MessageBox(e.Message(), Application().Title(), gui::mbOK | gui::mbIconError);
  }
}

}  // namespace qninet
