#pragma once
// The remote image: keeps an image control showing a picture that lives on a web, FTP or
// network location, refreshed on a timer. Each run is the updater's compare-and-download run
// against a private temporary file, so the picture travels only when it changed.

#include <memory>

#include "qninet/rtl/Forms.h"
#include "qninet/web/qniupdate.h"

namespace qninet {

/// A picture from the web: downloads the remote image and shows it in an `Image` control, again every
/// `Interval` while `Active`.
class QNINET_API TQNRemoteImage : public TQNCustomWebUpdater {
  QNINET_OBJECT(TQNRemoteImage, TQNCustomWebUpdater)
public:
  /// Creates the component; `AOwner` (or none) owns it and destroys it with itself.
  explicit TQNRemoteImage(TComponent* AOwner);
  /// Stops the timer and deletes the temporary file.
  ~TQNRemoteImage() override;

  /// Runs the updater, then loads `Image`'s picture from the local file when there is one,
  /// whatever the status (an unchanged remote file reloads the local copy). Loading raises
  /// `EInvalidGraphic` for a picture format unknown by its extension. The timer stays off while
  /// the run lasts and is armed again after it while `Active` (not after a run that raised).
  bool Execute() override;
  /// Stores the remote name, deletes the local file and names a new one after the remote
  /// name's extension, in the process's private temporary folder.
  void SetRemoteFileName(const String& value) override;

  /// The control that receives the picture, or none. It tells the component when it goes.
  TImage* Image() const { return FImage; }
  /// Sets `Image`.
  void SetImage(TImage* value);
  /// While true a run starts one `Interval` after the previous one ended. A run that raises
  /// stops the repetition (the error goes to the application's message box) until `Active`
  /// is set false and true again.
  bool Active() const { return FActive; }
  /// Sets `Active`.
  void SetActive(bool value);
  /// Milliseconds from the end of one run to the start of the next; 1000 by default.
  Cardinal Interval() const;
  /// Sets `Interval`.
  void SetInterval(Cardinal value);
  /// Sets `Active`.
  void Start() { SetActive(true); }
  /// Clears `Active`.
  void Stop() { SetActive(false); }
  /// Deletes the local file when it exists.
  void DeleteLocalFile();
  /// Whether the timer will start another run (false while a run is in progress or after a
  /// run raised).
  bool TimerEnabled() const;

protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

private:
  void tick();
  TImage* FImage = nullptr;
  bool FActive = false;
  TTimer* FTimer;  // owned as a component
  int FTempSlot;
};

}  // namespace qninet
