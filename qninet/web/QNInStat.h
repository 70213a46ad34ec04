#pragma once
// The status window of the web components as a form model: header, file names, four steps
// with state images, a status line, a progress bar and a Cancel button.

#include <cstdint>

#include "qninet/rtl/Forms.h"

namespace qninet {

enum TQNIAction : std::uint8_t;

/// The status form a web component shows while it runs with its status dialog enabled. The
/// engine writes the status line, the step images, the progress bar and, while preparing, the
/// header and file names; the Cancel button sets `IsCanceled`.
class QNINET_API TfrmQNInetUpdate : public TForm {
  QNINET_OBJECT(TfrmQNInetUpdate, TForm)
public:
  /// Builds every control of the form; the caption is `strQNInSoftwareUpdate`.
  explicit TfrmQNInetUpdate(TComponent* AOwner);

  /// Shows an action: the status line gets its text and its step image its state image.
  /// `iaIdle` and the other actions without a step change nothing.
  void ShowAction(TQNIAction Action);
  /// Shows progress: the bar's range end and position, and `strQNInProgress` (or, without a
  /// known total, the byte count alone) on the status line.
  void ShowProgress(std::uint64_t CurValue, std::uint64_t MaxValue);
  /// The console backend's line: the four steps, the status line and a progress bar.
  String StatusText() const override;

  /// Set by the Cancel button; read by the engine at its next progress report.
  bool IsCanceled = false;

  /// The form's controls, named as in the form file.
  ///@{
  TPanel* pnlDescription;
  TLabel* lblCaption;
  TLabel* lblDescription;
  TImage* imgBackground;
  TImage* imgDescription;
  TImage* imgLogo;
  TLabel* lblRemote;
  TLabel* lblLocal;
  TLabel* lblRemoteFileName;
  TLabel* lblLocalFileName;
  TImage* imgStep1;
  TImage* imgStep2;
  TImage* imgStep3;
  TImage* imgStep4;
  TLabel* lblStep1;
  TLabel* lblStep2;
  TLabel* lblStep3;
  TLabel* lblStep4;
  TLabel* lblStatus;
  TProgressBar* pbStatus;
  TButton* btnCancel;
  ///@}

  ///@{
  /// The state images of `imgStatus`: a step under way, and the four finished steps.
  static constexpr Integer kImageUnderWay = 0;
  static constexpr Integer kImageConnected = 2;
  static constexpr Integer kImageCompared = 3;
  static constexpr Integer kImageDownloaded = 4;
  static constexpr Integer kImageDisconnected = 5;
  static constexpr Integer kStateImageCount = 6;
  ///@}
};

/// The per-cent of `CurValue` in `MaxValue`, exact in integer arithmetic for any 64-bit
/// values; 0 when `MaxValue` is 0.
QNINET_API std::uint64_t progress_percent(std::uint64_t CurValue, std::uint64_t MaxValue);
/// Whether a total is known: neither 0 nor the all-ones size of an unreadable length.
QNINET_API bool progress_total_known(std::uint64_t MaxValue);

/// "Downloaded %d bytes": the status line while the total is not known.
extern QNINET_API String strQNInProgressBytes;

}  // namespace qninet
