#pragma once
// Windows as models: forms hold named controls with their captions, texts, geometry and tab
// order; a GUI backend renders a form model and feeds clicks and edits back.

#include <functional>
#include <memory>
#include <vector>

#include "qninet/rtl/Classes.h"
#include "qninet/rtl/Graphics.h"

namespace qninet {

class TForm;

enum TModalResult : std::int32_t {
  mrNone = 0,
  mrOk = 1,
  mrCancel = 2,
  mrAbort = 3,
  mrRetry = 4,
  mrIgnore = 5,
  mrYes = 6,
  mrNo = 7
};
enum TAlignment : std::uint8_t { taLeftJustify, taRightJustify, taCenter };
enum TAlign : std::uint8_t { alNone, alTop, alBottom, alLeft, alRight, alClient };
enum TFormBorderStyle : std::uint8_t { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow };
enum TPosition : std::uint8_t { poDesigned, poScreenCenter, poMainFormCenter };

/// A control of a form model. Its owner is the form (or a panel's form); `Parent` is the
/// control it sits in, or none for the form's client area.
class QNINET_API TControl : public TComponent {
  QNINET_OBJECT(TControl, TComponent)
public:
  /// Creates the component; `AOwner` (or none) owns it and destroys it with itself.
  explicit TControl(TComponent* AOwner);
  /// Leaves its form first, so a shown form drops it from its window at once.
  ~TControl() override;
  /// The left edge in pixels, within the parent.
  Integer Left() const { return FLeft; }
  /// The top edge in pixels, within the parent.
  Integer Top() const { return FTop; }
  /// The width in pixels.
  Integer Width() const { return FWidth; }
  /// The height in pixels.
  Integer Height() const { return FHeight; }
  /// Sets `Left`, `Top`, `Width` and `Height` at once.
  void SetBounds(Integer left, Integer top, Integer width, Integer height);
  /// Whether the control is shown.
  bool Visible() const { return FVisible; }
  /// Sets `Visible`.
  void SetVisible(bool value);
  /// Whether the control takes input.
  bool Enabled() const { return FEnabled; }
  /// Sets `Enabled`.
  void SetEnabled(bool value);
  /// The control's place in the tab order; -1 for none.
  Integer TabOrder() const { return FTabOrder; }
  /// Sets `TabOrder`.
  void SetTabOrder(Integer value) { FTabOrder = value; }
  /// Whether tabbing stops at the control.
  bool TabStop() const { return FTabStop; }
  /// Sets `TabStop`.
  void SetTabStop(bool value) { FTabStop = value; }
  /// The control that holds this one, or none.
  TControl* Parent() const { return FParent; }
  /// Sets `Parent`.
  void SetParent(TControl* value) { FParent = value; }
  /// How the control is aligned within its parent.
  TAlign Align() const { return FAlign; }
  /// Sets `Align`.
  void SetAlign(TAlign value) { FAlign = value; }
  /// The form model this control belongs to, through its owners.
  TForm* OwnerForm() const;

protected:
  /// Tells the backend that a shown form needs repainting.
  void Changed();

private:
  Integer FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
  bool FVisible = true;
  bool FEnabled = true;
  Integer FTabOrder = -1;
  bool FTabStop = false;
  TControl* FParent = nullptr;
  TAlign FAlign = alNone;
};

/// A text label.
class QNINET_API TLabel : public TControl {
  QNINET_OBJECT(TLabel, TControl)
public:
  using TControl::TControl;
  /// The label's text.
  const String& Caption() const { return FCaption; }
  /// Sets `Caption`.
  void SetCaption(const String& value);
  /// The text's horizontal alignment.
  TAlignment Alignment() const { return FAlignment; }
  /// Sets `Alignment`.
  void SetAlignment(TAlignment value) { FAlignment = value; }
  /// Whether the label sizes itself to its text.
  bool AutoSize() const { return FAutoSize; }
  /// Sets `AutoSize`.
  void SetAutoSize(bool value) { FAutoSize = value; }
  /// Whether the parent shows through the label's background.
  bool Transparent() const { return FTransparent; }
  /// Sets `Transparent`.
  void SetTransparent(bool value) { FTransparent = value; }
  /// Whether long text wraps onto more lines.
  bool WordWrap() const { return FWordWrap; }
  /// Sets `WordWrap`.
  void SetWordWrap(bool value) { FWordWrap = value; }
  /// Whether the text is bold.
  bool Bold() const { return FBold; }
  /// Sets `Bold`.
  void SetBold(bool value) { FBold = value; }
  /// Text colour as 0xRRGGBB; -1 for the window text colour.
  Integer Color() const { return FColor; }
  /// Sets `Color`.
  void SetColor(Integer value) { FColor = value; }
  /// The control that the label names (the console backend prompts with the label's text).
  TControl* FocusControl() const { return FFocusControl; }
  /// Sets `FocusControl`.
  void SetFocusControl(TControl* value) { FFocusControl = value; }

private:
  String FCaption;
  TAlignment FAlignment = taLeftJustify;
  bool FAutoSize = true;
  bool FTransparent = false;
  bool FWordWrap = false;
  bool FBold = false;
  Integer FColor = -1;
  TControl* FFocusControl = nullptr;
};

/// A single-line edit. A non-zero `PasswordChar` masks what is typed.
class QNINET_API TEdit : public TControl {
  QNINET_OBJECT(TEdit, TControl)
public:
  /// Creates the component; `AOwner` (or none) owns it and destroys it with itself.
  explicit TEdit(TComponent* AOwner);
  /// The edit's text.
  const String& Text() const { return FText; }
  /// Sets `Text`.
  void SetText(const String& value);
  /// The character shown in place of each typed one (a password field); 0 shows the text.
  char16_t PasswordChar() const { return FPasswordChar; }
  /// Sets `PasswordChar`.
  void SetPasswordChar(char16_t value) { FPasswordChar = value; }

private:
  String FText;
  char16_t FPasswordChar = 0;
};

/// A push button. A click runs `OnClick`, then closes a modal form with `ModalResult` when
/// that is not `mrNone`.
class QNINET_API TButton : public TControl {
  QNINET_OBJECT(TButton, TControl)
public:
  /// Creates the component; `AOwner` (or none) owns it and destroys it with itself.
  explicit TButton(TComponent* AOwner);
  /// The button's text.
  const String& Caption() const { return FCaption; }
  /// Sets `Caption`.
  void SetCaption(const String& value);
  /// Whether Enter presses the button.
  bool Default() const { return FDefault; }
  /// Sets `Default`.
  void SetDefault(bool value) { FDefault = value; }
  /// Whether Escape presses the button.
  bool Cancel() const { return FCancel; }
  /// Sets `Cancel`.
  void SetCancel(bool value) { FCancel = value; }
  /// The result the button gives the modal form it closes; `mrNone` leaves the form open.
  TModalResult ModalResult() const { return FModalResult; }
  /// Sets `ModalResult`.
  void SetModalResult(TModalResult value) { FModalResult = value; }
  /// Called when the button is pressed.
  const std::function<void(TObject*)>& OnClick() const { return FOnClick; }
  /// Sets the `OnClick` handler.
  void SetOnClick(std::function<void(TObject*)> handler) { FOnClick = std::move(handler); }
  /// What a backend calls when the user presses the button.
  void Click();

private:
  String FCaption;
  bool FDefault = false;
  bool FCancel = false;
  TModalResult FModalResult = mrNone;
  std::function<void(TObject*)> FOnClick;
};

/// A framing line or box.
class QNINET_API TBevel : public TControl {
  QNINET_OBJECT(TBevel, TControl)
public:
  using TControl::TControl;
};

/// A panel that holds other controls.
class QNINET_API TPanel : public TControl {
  QNINET_OBJECT(TPanel, TControl)
public:
  using TControl::TControl;
  /// The background colour as an RGB value; -1 for the default.
  Integer Color() const { return FColor; }
  /// Sets `Color`.
  void SetColor(Integer value) { FColor = value; }

private:
  Integer FColor = -1;
};

/// A picture on a form.
class QNINET_API TImage : public TControl {
  QNINET_OBJECT(TImage, TControl)
public:
  /// Creates the component; `AOwner` (or none) owns it and destroys it with itself.
  explicit TImage(TComponent* AOwner);
  ~TImage() override;
  /// The picture shown, owned by the image.
  TPicture* Picture() const { return FPicture.get(); }
  /// Sets `Picture`.
  void SetPicture(const TPicture* value);
  /// The index of a state image an owner draws here, or -1 for none (models use it for image
  /// lists the backend knows).
  Integer ImageIndex() const { return FImageIndex; }
  /// Sets `ImageIndex`.
  void SetImageIndex(Integer value);
  /// Whether the parent shows through the picture's transparent parts.
  bool Transparent() const { return FTransparent; }
  /// Sets `Transparent`.
  void SetTransparent(bool value) { FTransparent = value; }

private:
  std::unique_ptr<TPicture> FPicture;
  Integer FImageIndex = -1;
  bool FTransparent = false;
};

/// A progress bar. Positions are 64-bit so that byte counts fit.
class QNINET_API TProgressBar : public TControl {
  QNINET_OBJECT(TProgressBar, TControl)
public:
  using TControl::TControl;
  /// The lowest position.
  Int64 Min() const { return FMin; }
  /// The highest position.
  Int64 Max() const { return FMax; }
  /// The current position, between `Min` and `Max`.
  Int64 Position() const { return FPosition; }
  /// Sets `Min`.
  void SetMin(Int64 value);
  /// Sets `Max`.
  void SetMax(Int64 value);
  /// Sets `Position`.
  void SetPosition(Int64 value);

private:
  Int64 FMin = 0, FMax = 100, FPosition = 0;
};

/// A form model. It owns its controls; backends show it modally or modeless.
class QNINET_API TForm : public TComponent {
  QNINET_OBJECT(TForm, TComponent)
public:
  /// Creates the component; `AOwner` (or none) owns it and destroys it with itself.
  explicit TForm(TComponent* AOwner);
  ~TForm() override;
  /// The form's title.
  const String& Caption() const { return FCaption; }
  /// Sets `Caption`.
  void SetCaption(const String& value);
  /// The form's left edge on the screen, in pixels.
  Integer Left() const { return FLeft; }
  /// The form's top edge on the screen, in pixels.
  Integer Top() const { return FTop; }
  /// The width of the form's client area, in pixels.
  Integer ClientWidth() const { return FClientWidth; }
  /// The height of the form's client area, in pixels.
  Integer ClientHeight() const { return FClientHeight; }
  /// Sets the position and the client area's size at once.
  void SetBounds(Integer left, Integer top, Integer clientWidth, Integer clientHeight);
  /// The form's border: none, single, sizeable, a dialog's or a tool window's.
  TFormBorderStyle BorderStyle() const { return FBorderStyle; }
  /// Sets `BorderStyle`.
  void SetBorderStyle(TFormBorderStyle value) { FBorderStyle = value; }
  /// Where the form first shows: as designed, centred on the screen or on the main form.
  TPosition Position() const { return FPosition; }
  /// Sets `Position`.
  void SetPosition(TPosition value) { FPosition = value; }
  /// The name of the form's font.
  const String& FontName() const { return FFontName; }
  /// The height of the form's font, in pixels.
  Integer FontHeight() const { return FFontHeight; }
  /// Sets `FontName` and `FontHeight`.
  void SetFont(const String& name, Integer height);
  /// The form's icon, owned.
  TIcon* Icon() const { return FIcon.get(); }
  /// The result a modal run of the form ended with.
  TModalResult ModalResult() const { return FModalResult; }
  /// A modal form closes when this becomes other than `mrNone`.
  void SetModalResult(TModalResult value) { FModalResult = value; }
  /// Whether the form is shown.
  bool Showing() const { return FShowing; }

  /// Shows the form modally through the GUI services and returns how it closed.
  TModalResult ShowModal();
  /// Shows the form modeless; it stays until `Hide` or destruction.
  void Show();
  /// Hides a form shown modeless.
  void Hide();
  /// The controls in tab order (those with a tab order, then the rest in creation order).
  std::vector<TControl*> ControlsInTabOrder() const;
  /// The form's controls in creation order.
  std::vector<TControl*> Controls() const;
  /// The control of that name (case-insensitive), or none.
  TControl* FindControl(StringView name) const;
  /// Lets the backend repaint a shown form.
  void Changed();
  /// One line that tells what a modeless form shows, for text backends.
  virtual String StatusText() const;

private:
  friend class TGuiServicesAccess;
  String FCaption;
  Integer FLeft = 0, FTop = 0, FClientWidth = 0, FClientHeight = 0;
  TFormBorderStyle FBorderStyle = bsSizeable;
  TPosition FPosition = poDesigned;
  String FFontName = u"MS Sans Serif";
  Integer FFontHeight = -11;
  std::unique_ptr<TIcon> FIcon;
  TModalResult FModalResult = mrNone;
  bool FShowing = false;
};

namespace gui {

enum TMessageBoxFlags : std::int32_t {
  mbOK = 0x0,
  mbOKCancel = 0x1,
  mbYesNo = 0x4,
  mbIconError = 0x10,
  mbIconQuestion = 0x20,
  mbIconWarning = 0x30,
  mbIconInformation = 0x40
};

using TTimerId = std::uint64_t;

/// What the library asks of a GUI: modal dialogs, modeless forms, message boxes, pending
/// messages, timers and the application title. Backends: console (default), scripted, Qt.
class QNINET_API TGuiServices {
public:
  virtual ~TGuiServices();
  /// Runs the form modally and returns its result. With nobody to answer it returns
  /// `mrCancel` at once.
  virtual TModalResult ShowModal(TForm& form) = 0;
  /// Shows the form without waiting; it stays until `HideForm`.
  virtual void ShowModeless(TForm& form) = 0;
  /// Hides a form shown with `ShowModeless`.
  virtual void HideForm(TForm& form) = 0;
  /// A shown form's controls changed.
  virtual void FormChanged(TForm& form) = 0;
  /// Lets pending work run: repaints, clicks, due timers.
  virtual void ProcessMessages() = 0;
  /// Returns a modal result (`mrOk`, `mrCancel`, `mrYes`, `mrNo`).
  virtual TModalResult MessageBox(const String& text, const String& caption, std::int32_t flags) = 0;
  /// Calls `tick` every `intervalMs` milliseconds from `ProcessMessages`/the event loop.
  virtual TTimerId StartTimer(std::uint32_t intervalMs, std::function<void()> tick) = 0;
  /// Stops a timer started with `StartTimer`; an unknown id is ignored.
  virtual void StopTimer(TTimerId id) = 0;
  /// Runs the event loop until `done` returns true or `timeoutMs` passes; false on time-out.
  virtual bool RunUntil(const std::function<bool()>& done, std::uint32_t timeoutMs);
  /// Whether the backend reads pictures of a format ("png", "jpeg", "gif", ...). The base
  /// knows the formats `probe_image` reads; the Qt backend knows Qt's image readers.
  virtual bool KnowsPictureFormat(const std::string& format);
  /// Reads the pixel size of a picture of a known format; false when the bytes are no such
  /// picture.
  virtual bool ReadPicture(const std::string& format, std::string_view bytes, Integer& width,
                           Integer& height);
  /// Queues `work` to run on the GUI thread at its next message processing, after what was
  /// queued before; safe from any thread. The base keeps the queue that `RunPosted` empties (the
  /// console and scripted backends' `ProcessMessages` call it); the Qt backend queues it on the
  /// Qt event loop.
  virtual void Post(std::function<void()> work);
  /// Waits up to `timeoutMs` for posted work, then processes messages once.
  virtual void WaitForMessages(std::uint32_t timeoutMs);

  TGuiServices();

protected:
  /// Runs the work posted so far, in order, on the calling thread; returns how many ran.
  int RunPosted();

private:
  struct TPostQueue;
  std::unique_ptr<TPostQueue> FPosted;
};

/// The backend in use: the one installed with `SetServices`, else the console backend.
QNINET_API TGuiServices& Services();
/// Installs a backend (not owned); none restores the console backend. Until a program calls
/// this, `QNINET_GUI=qt` in the environment makes the first `Services` load the Qt backend
/// (libQNInetQt), falling back to the console when it cannot be loaded or shown.
QNINET_API void SetServices(TGuiServices* services);
/// Loads the Qt backend (libQNInetQt, found as the dynamic loader finds libraries) and
/// installs it. Returns an empty text when the Qt windows are in use, else why not: the library
/// cannot be loaded, or no display can be reached.
QNINET_API String LoadQtBackend();

}  // namespace gui

/// The application: its title and access to the GUI services.
class QNINET_API TApplication {
public:
  /// The title, or the executable's file name when none was set.
  String Title() const;
  /// Sets `Title`.
  void SetTitle(const String& value) { FTitle = value; }
  /// Lets pending work run; does nothing on the worker of an asynchronous run (nothing pumps
  /// the application's events inside a run).
  void ProcessMessages();
  /// The backend's message box, on the thread that started the asynchronous run when called
  /// from its worker.
  TModalResult MessageBox(const String& text, const String& caption, std::int32_t flags = 0);

private:
  String FTitle;
};
QNINET_API TApplication& Application();

/// A timer component ticking through the GUI services' event loop.
class QNINET_API TTimer : public TComponent {
  QNINET_OBJECT(TTimer, TComponent)
public:
  /// Creates the component; `AOwner` (or none) owns it and destroys it with itself.
  explicit TTimer(TComponent* AOwner);
  ~TTimer() override;
  /// Whether the timer runs.
  bool Enabled() const { return FEnabled; }
  /// Sets `Enabled`.
  void SetEnabled(bool value);
  /// Milliseconds between two `OnTimer` calls.
  Cardinal Interval() const { return FInterval; }
  /// Sets `Interval`.
  void SetInterval(Cardinal value);
  /// Called every `Interval` milliseconds while the timer is enabled.
  const std::function<void(TObject*)>& OnTimer() const { return FOnTimer; }
  /// Sets the `OnTimer` handler.
  void SetOnTimer(std::function<void(TObject*)> handler);

private:
  void update_timer();
  bool FEnabled = true;
  Cardinal FInterval = 1000;
  std::function<void(TObject*)> FOnTimer;
  gui::TTimerId FId = 0;
};

}  // namespace qninet
