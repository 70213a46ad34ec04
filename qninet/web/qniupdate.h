#pragma once
// The web transfer engine: the base of every component that transfers files or pages over
// HTTP, HTTPS, FTP or a file path, its status-dialog settings, and the compare-and-download
// updater.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>

#include "qninet/core/QNInProxy.h"
#include "qninet/rtl/AsyncRun.h"
#include "qninet/rtl/Classes.h"
#include "qninet/rtl/DateUtils.h"
#include "qninet/rtl/Graphics.h"
#include "qninet/rtl/Streams.h"
#include "qninet/rtl/Strings.h"
#include "qninet/rtl/TypInfo.h"
#include "qninet/web/QNInStat.h"
#include "qninet/web/UpdatePin.h"
#include "qninet/web/WebConnection.h"
#include "qninet/web/WebTypes.h"

namespace qninet {

class TQNWebSource;  // the library's sources (web/WebSource.h)

using TNotifyEvent = std::function<void(TObject* Sender)>;
/// Progress of a transfer: bytes so far, the expected total (0 or all ones when unknown), and
/// a flag the handler sets to stop the transfer.
using TQNIProgress =
    std::function<void(TObject* Sender, std::uint64_t CurValue, std::uint64_t MaxValue, bool& Abort)>;
/// Lets the application overrule the compare result of the updater.
using TQNIFileCompare = std::function<void(TObject* Sender, bool& Equal)>;

/// The application's settings for the status window of a web component.
class QNINET_API TQNInetStatusDialog : public TPersistent {
  QNINET_OBJECT(TQNInetStatusDialog, TPersistent)
public:
  TQNInetStatusDialog();
  ~TQNInetStatusDialog() override;
  /// Copies all six properties from another status dialog (picture and icon by content);
  /// anything else is refused by the base class.
  void Assign(const TPersistent* Source) override;

  /// Whether a run shows the status window.
  bool Enabled() const { return FEnabled; }
  /// Sets `Enabled`.
  void SetEnabled(bool value) { FEnabled = value; }
  /// The help context number of the status window.
  Integer HelpContext() const { return FHelpContext; }
  /// Sets `HelpContext`.
  void SetHelpContext(Integer value) { FHelpContext = value; }
  /// The picture the status window shows, owned.
  TPicture* Picture() const { return FPicture.get(); }
  /// Copies the given picture into the owned one.
  void SetPicture(const TPicture* value) { FPicture->Assign(value); }
  /// The status window's icon, owned.
  TIcon* Icon() const { return FIcon.get(); }
  /// Sets `Icon`.
  void SetIcon(const TIcon* value) { FIcon->Assign(value); }
  /// The status window's title.
  const String& Title() const { return FTitle; }
  /// Sets `Title`.
  void SetTitle(const String& value) { FTitle = value; }
  /// The text the status window shows above the progress.
  const String& Description() const { return FDescription; }
  /// Sets `Description`.
  void SetDescription(const String& value) { FDescription = value; }

private:
  bool FEnabled = false;
  Integer FHelpContext = 0;
  String FTitle;
  String FDescription;
  std::unique_ptr<TPicture> FPicture;
  std::unique_ptr<TIcon> FIcon;
};

/// The base of the web components: connection settings, the source of one run, the current
/// step and result, progress, and the optional status form. `Execute` runs the cycle and
/// leaves the work between connecting and disconnecting to `InternalExecute`.
class QNINET_API TQNCustomWebComponent : public TComponent {
  QNINET_OBJECT(TQNCustomWebComponent, TComponent)
public:
  /// Creates the component; `AOwner` (or none) owns it and destroys it with itself.
  explicit TQNCustomWebComponent(TComponent* AOwner);
  /// Cancels and joins a run still in progress, closes any handle still open; never throws.
  ~TQNCustomWebComponent() override;
  /// Deleting a component stops its asynchronous run before any destructor runs, so the worker
  /// never meets a half-destroyed component.
  void operator delete(TQNCustomWebComponent* p, std::destroying_delete_t);

  /// Runs one cycle: OnBeforeExecute, the status form, `InternalExecute`, OnAfterExecute.
  /// Returns true unless `Status` ends as `isFailed`. Local file errors of `InternalExecute`
  /// propagate (after the handles are closed, the form freed and `Status` set to `isFailed`).
  /// Raises `EInvalidOperation` "NAME is already running" when called while this component's
  /// own `Execute` runs (from one of its handlers), before touching the running cycle or its
  /// `Status`; a handler that lets it out ends that cycle as any handler's error does.
  virtual bool Execute();
  /// Starts `Execute` on a worker thread and returns at once. Every event of the run
  /// (OnBeforeExecute, OnStatusChange, OnActionChange, OnProgress, OnFileCompare,
  /// OnAfterExecute, the logon prompt, message boxes, the status window) is delivered on this
  /// thread through the GUI backend's message processing, the worker waiting until its handler
  /// ran; nothing processes messages inside the run. Then `OnDone` with `Execute`'s result (false
  /// when it raised; `LastErrorText` says why). Raises `EInvalidOperation` "NAME is already
  /// running" while a run is in progress; writing a published property of the running component
  /// raises `EInvalidOperation` until `OnDone`.
  void ExecuteAsync();
  /// Whether an asynchronous run is in progress (until its `OnDone`).
  bool Busy() const { return FAsync->Busy(); }
  /// Processes this thread's messages until the asynchronous run in progress has ended and its
  /// `OnDone` ran.
  void Wait() { FAsync->Wait(); }

  /// The User-Agent sent with HTTP requests.
  const String& Agent() const { return FConnection.Agent; }
  /// Sets `Agent`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetAgent(const String& value) {
    RefuseWriteWhileRunning(*this);
    FConnection.Agent = value;
  }
  /// The server's port; 0 takes the service's default.
  std::uint16_t Port() const { return FConnection.Target.Port(); }
  /// Sets `Port`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetPort(std::uint16_t value) {
    RefuseWriteWhileRunning(*this);
    FConnection.Target.SetPort(value);
  }
  /// The protocol of the connection: HTTP, HTTPS, FTP or a local path (`isNetwork`).
  TQNIService Service() const { return FConnection.Service; }
  /// Stores a new service and, unless the component is loading, applies its port (80, 443,
  /// 21; `isNetwork` keeps the port).
  void SetService(TQNIService value);
  /// The server's host name or address.
  String Host() const { return FromUtf8(FConnection.Target.Host()); }
  /// Sets `Host`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetHost(const String& value) {
    RefuseWriteWhileRunning(*this);
    FConnection.Target.SetHost(ToUtf8(value));
  }
  /// The user name to log in with; empty for none (FTP logs in anonymously).
  String User() const { return FromUtf8(FConnection.Target.User()); }
  /// Sets `User`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetUser(const String& value) {
    RefuseWriteWhileRunning(*this);
    FConnection.Target.SetUser(ToUtf8(value));
  }
  /// The password to log in with.
  String Password() const { return FromUtf8(FConnection.Target.Password()); }
  /// Sets `Password`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetPassword(const String& value) {
    RefuseWriteWhileRunning(*this);
    FConnection.Target.SetPassword(ToUtf8(value));
  }
  /// Takes one absolute URL as the connection's target: `Service`, `Host`, `Port`, `User`,
  /// `Password` (empty when the URL names none) and, for the updater, `RemoteFileName` (http,
  /// https, ftp with the path decoded, or file as `isNetwork`, which keeps `Host` and `Port`).
  /// Raises `EConvertError` naming the URL when it is malformed or of another scheme; nothing
  /// is changed then.
  void SetURL(const String& value);
  /// The proxy the connection goes through, owned by the component.
  TQNInetProxy* Proxy() const { return FProxy.get(); }
  /// Copies the given proxy into the owned one.
  void SetProxy(const TQNInetProxy* value) {
    RefuseWriteWhileRunning(*this);
    FProxy->Assign(value);
  }
  /// The settings of the status window, owned by the component.
  TQNInetStatusDialog* StatusDialog() const { return FStatusDialog.get(); }
  /// Sets `StatusDialog`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetStatusDialog(const TQNInetStatusDialog* value) {
    RefuseWriteWhileRunning(*this);
    FStatusDialog->Assign(value);
  }
  /// Whether a run asks the user for the user name and password when the server wants them.
  bool LoginPrompt() const { return FConnection.LoginPrompt; }
  /// Sets `LoginPrompt`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetLoginPrompt(bool value) {
    RefuseWriteWhileRunning(*this);
    FConnection.LoginPrompt = value;
  }
  /// Milliseconds that a connect or a stall of the transfer may last; 0 waits for ever.
  Cardinal Timeout() const { return FConnection.Timeout; }
  /// Sets `Timeout`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetTimeout(Cardinal value) {
    RefuseWriteWhileRunning(*this);
    FConnection.Timeout = value;
  }
  /// Seconds that one `Execute`, one page fetch or one service call may take in all (default 0:
  /// no bound); past it the transfer stops with `strQNInETimeLimit` in `LastErrorText` (and
  /// `Status` `isFailed` for a run).
  Cardinal MaxTime() const { return FConnection.MaxTime; }
  /// Sets `MaxTime`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetMaxTime(Cardinal value) {
    RefuseWriteWhileRunning(*this);
    FConnection.MaxTime = value;
  }
  /// One more CA file (PEM) to trust for HTTPS besides the system's store; empty: the file
  /// named by `QNINET_CA_FILE`, when set.
  const String& CAFile() const { return FConnection.CAFile; }
  /// Sets `CAFile`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetCAFile(const String& value) {
    RefuseWriteWhileRunning(*this);
    FConnection.CAFile = value;
  }
  /// Whether a run that loads the system's proxy setting (the updater's does) lets it overwrite
  /// `Proxy` (the default); false keeps `Proxy` as the application set it.
  bool LoadSystemProxy() const { return FLoadSystemProxy; }
  /// Sets `LoadSystemProxy`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetLoadSystemProxy(bool value) {
    RefuseWriteWhileRunning(*this);
    FLoadSystemProxy = value;
  }

  /// Called as bytes arrive, with the count so far and the total when known.
  const TQNIProgress& OnProgress() const { return FOnProgress; }
  /// Sets the `OnProgress` handler. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetOnProgress(TQNIProgress handler) {
    RefuseWriteWhileRunning(*this);
    FOnProgress = std::move(handler);
  }
  /// Called at the start of `Execute`, before connecting.
  const TNotifyEvent& OnBeforeExecute() const { return FOnBeforeExecute; }
  /// Sets the `OnBeforeExecute` handler. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetOnBeforeExecute(TNotifyEvent handler) {
    RefuseWriteWhileRunning(*this);
    FOnBeforeExecute = std::move(handler);
  }
  /// Called at the end of `Execute`, after disconnecting.
  const TNotifyEvent& OnAfterExecute() const { return FOnAfterExecute; }
  /// Sets the `OnAfterExecute` handler. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetOnAfterExecute(TNotifyEvent handler) {
    RefuseWriteWhileRunning(*this);
    FOnAfterExecute = std::move(handler);
  }
  /// Called when `Action` changes.
  const TNotifyEvent& OnActionChange() const { return FOnActionChange; }
  /// Sets the `OnActionChange` handler. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetOnActionChange(TNotifyEvent handler) {
    RefuseWriteWhileRunning(*this);
    FOnActionChange = std::move(handler);
  }
  /// After an asynchronous run, on the thread that started it.
  const TQNIDoneEvent& OnDone() const { return FOnDone; }
  /// Sets the `OnDone` handler.
  void SetOnDone(TQNIDoneEvent handler) { FOnDone = std::move(handler); }
  /// Called when `Status` changes.
  const TNotifyEvent& OnStatusChange() const { return FOnStatusChange; }
  /// Sets the `OnStatusChange` handler. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetOnStatusChange(TNotifyEvent handler) {
    RefuseWriteWhileRunning(*this);
    FOnStatusChange = std::move(handler);
  }

  /// The step the run is at: connecting, looking up, downloading...
  TQNIAction Action() const { return FAction; }
  /// Stores a changed action, shows it on the status form and fires OnActionChange.
  void SetAction(TQNIAction value);
  /// How the run stands or ended: finished, failed, not found...
  TQNIStatus Status() const { return FStatus; }
  /// Stores a changed status and fires OnStatusChange.
  void SetStatus(TQNIStatus value);
  /// Whether a download continues a partial local file (an HTTP Range or FTP REST) instead of starting over.
  bool ResumeDownload() const { return FResumeDownload; }
  /// Sets `ResumeDownload`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetResumeDownload(bool value) {
    RefuseWriteWhileRunning(*this);
    FResumeDownload = value;
  }
  /// Why the last run failed (an HTTP status, a refused authorization, a transport error), or
  /// empty.
  const String& LastErrorText() const { return FLastError; }
  /// Appends to `List` the entries of `Directory` that match `WildCard` ("*" and "?"; "*.*"
  /// matches every name; case-sensitive), and with `SubFolders` those of every folder below it.
  /// FTP (in a run) names an entry by its bare name when `Directory` is the login directory
  /// ("/" when empty), else by `Directory` + "/" + name, and reads each folder before the ones
  /// below it; a folder it cannot enter is reported in a message box. A path (`isNetwork`,
  /// in a run or not) names entries `Directory` + "/" + name, lists "." and ".." as the folder
  /// read returns them, and descends into each sub-folder as it is listed. Sub-folders are
  /// entered whether or not their names match, at most 64 levels deep and never twice; names
  /// with CR, LF or "/" are skipped. HTTP lists nothing. True when `List` holds any line
  /// afterwards, also one it held before.
  bool ReadDirFromInet(const String& Directory, const String& WildCard, bool SubFolders, TStrings* List);
  /// Fetches the whole body of one http://, https:// or ftp:// URL into `Stream`, whatever the
  /// answer's status (an error page too), with `Agent`, `Timeout` and a `Proxy` that names a
  /// server (else the system's). Needs no run and changes neither `Action` nor `Status`.
  /// Afterwards the stream holds exactly the body, at position 0; on a failure it is empty,
  /// `LastErrorText` says why and the result is false.
  bool ReadHTTPGetResponse(const String& URL, TStream* Stream);
  /// The body as text, decoded by its byte-order mark, else the charset of its Content-Type,
  /// else as UTF-8 when it is valid UTF-8, else in the ANSI code page; empty on a failure.
  String ReadHTTPGetResponseString(const String& URL);
  /// Stops the run in progress (or the next one, when none is) at its next step, as a
  /// cancelled download: the local file stays as it was. Safe to call from a signal handler
  /// or another thread.
  void Cancel();

protected:
  /// The work of one run, between `ConnectToInet` and `DisconnectFromInet`.
  virtual void InternalExecute() = 0;

  /// Makes the source of the service ready (FTP logs in now), loading the system's proxy first
  /// when asked and `LoadSystemProxy` allows it. A source that cannot be made ready stays none, with
  /// `LastErrorText`; an error raised meanwhile sets `isFailed`.
  void ConnectToInet(bool LoadProxy);
  /// Closes the source.
  void DisconnectFromInet();
  /// Learns the size and last-write time of a remote file without transferring it (HEAD for
  /// HTTP, the listing for FTP, the file's own data for a path). False when not found
  /// (HTTP 404/410), and false with `Status` `isFailed` for any other error answer, a refused
  /// authorization or a server that cannot be reached.
  bool GetFileInfoFromInet(std::uint64_t& FileSize, TFileTime& FileTime);
  /// Downloads the connection's remote file into a temporary file beside `LocalFileName` in blocks of
  /// `kQNIBlockSize`, flushes it, gives it `FileTime` (when not null) and replaces the local
  /// file with it in one rename. False when there is no source or the transfer failed; true
  /// with `Status` `isFailed` when cancelled. Either way the local file stays as it was unless
  /// the download completed. With `ResumeDownload` a partial download is kept beside the local
  /// file and continued by the next run. Raises the file errors of the local side.
  bool ReadFileFromInet(const String& LocalFileName, std::uint64_t ExpectedSize,
                        const TFileTime* FileTime = nullptr);
  /// Reports progress to the status form and OnProgress; either may set `Abort`.
  void UpdateProgress(std::uint64_t CurValue, std::uint64_t MaxValue, bool& Abort);
  /// Receives the path of a URL given to `SetURL`; the updater makes it its `RemoteFileName`.
  virtual void ApplyURLPath(const String& Path);

  /// Cancels an asynchronous run in progress and joins its worker without its `OnDone`; a
  /// descendant whose destructor frees what the run uses calls it first.
  void StopAsyncRun() noexcept;
  /// The source of the run between `ConnectToInet` and `DisconnectFromInet`, or none.
  TQNWebSource* Source() const;
  /// The status form while a run with an enabled status dialog is in progress, or none.
  TfrmQNInetUpdate* StatusForm() const;
  /// Sets `LastErrorText`.
  void SetLastErrorText(const String& value) { FLastError = value; }
  /// The connection value the properties read and write.
  TQNWebConnection& Connection() { return FConnection; }
  /// The connection value the properties read.
  const TQNWebConnection& Connection() const { return FConnection; }

private:
  friend class TQNServiceCall;  // a service request runs on the component's settings and cancel flag

  void prepare_status_form();
  void free_status_form() noexcept;
  void close_source() noexcept;
  void clear_cancel() noexcept;
  std::atomic<bool>& cancel_flag() noexcept;
  bool fetch_page(const String& URL, TStream* Stream, String& ContentType);

  TQNWebConnection FConnection;
  std::unique_ptr<TQNInetProxy> FProxy;
  std::unique_ptr<TQNInetStatusDialog> FStatusDialog;
  bool FLoadSystemProxy = true;
  TQNIProgress FOnProgress;
  TNotifyEvent FOnBeforeExecute;
  TNotifyEvent FOnAfterExecute;
  TNotifyEvent FOnActionChange;
  TNotifyEvent FOnStatusChange;
  TQNIDoneEvent FOnDone;
  TQNIAction FAction = iaIdle;
  TQNIStatus FStatus = isInProgress;
  bool FResumeDownload = false;
  String FLastError;
  struct TRun;
  std::unique_ptr<TRun> FRun;
  std::unique_ptr<TAsyncRunner> FAsync;
};

/// Looks a remote file up, compares it with a local file by size and time, and downloads it
/// when it is newer or different.
class QNINET_API TQNCustomWebUpdater : public TQNCustomWebComponent {
  QNINET_OBJECT(TQNCustomWebUpdater, TQNCustomWebComponent)
public:
  /// Creates the component; `AOwner` (or none) owns it and destroys it with itself.
  explicit TQNCustomWebUpdater(TComponent* AOwner);
  ~TQNCustomWebUpdater() override;

  /// The connection's path (and query, for HTTP) as `RemoteName` reads it.
  String RemoteFileName() const { return RemoteName(Connection()); }
  /// Stores the remote name in the connection's target; descendants derive their local file
  /// from it.
  virtual void SetRemoteFileName(const String& value);
  /// Called to decide whether to download when the remote and local files are compared.
  const TQNIFileCompare& OnFileCompare() const { return FOnFileCompare; }
  /// Sets the `OnFileCompare` handler. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetOnFileCompare(TQNIFileCompare handler) {
    RefuseWriteWhileRunning(*this);
    FOnFileCompare = std::move(handler);
  }
  /// The size learnt by the last run (all ones for a length that was no number).
  std::uint64_t RemoteFileSize() const { return FRemoteFileSize; }
  /// The last-write time learnt by the last run (100-ns units since 1601 UTC); 0 at first.
  TFileTime RemoteFileCreated() const { return FRemoteFileCreated; }
  /// The local file to compare with and to write.
  const String& LocalFileName() const { return FLocalFileName; }
  /// The Content-Type the last run's answer named (HTTP), else empty.
  const String& RemoteContentType() const { return FRemoteContentType; }
  /// The SHA-256 (64 hex digits) a download must have before it replaces the local file, and
  /// that a local file must have to be kept; empty: any. A run with another text fails.
  const String& ExpectedSHA256() const { return FPin.ExpectedSHA256(); }
  /// Sets `ExpectedSHA256`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetExpectedSHA256(const String& value) {
    RefuseWriteWhileRunning(*this);
    FPin.SetExpectedSHA256(value);
  }
  /// The publisher's minisign public key (the Base64 line minisign prints): a download, and a
  /// local file to be kept, must carry a good signature by it. A run with another text fails.
  const String& PublicKey() const { return FPin.PublicKey(); }
  /// Sets `PublicKey`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetPublicKey(const String& value) {
    RefuseWriteWhileRunning(*this);
    FPin.SetPublicKey(value);
  }
  /// Where the signature is; empty: the file's URL + ".minisig".
  const String& SignatureURL() const { return FPin.SignatureURL(); }
  /// Sets `SignatureURL`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetSignatureURL(const String& value) {
    RefuseWriteWhileRunning(*this);
    FPin.SetSignatureURL(value);
  }
  /// The trusted comment of the signature that verified in the last run, else empty.
  const String& TrustedComment() const { return FPin.TrustedComment(); }

protected:
  /// Connect, look up, compare (or ask OnFileCompare), download when needed, disconnect.
  void InternalExecute() override;
  void ApplyURLPath(const String& Path) override;

  /// The handler of `OnFileCompare`.
  TQNIFileCompare FOnFileCompare;
  /// The remote file's size, from the last lookup.
  std::uint64_t FRemoteFileSize = 0;
  /// The remote file's time, from the last lookup.
  TFileTime FRemoteFileCreated = 0;
  /// The local file the download replaces.
  String FLocalFileName;
  /// The remote file's Content-Type, from the last lookup.
  String FRemoteContentType;
  /// The signature and pin checks of the last run.
  TQNUpdatePin FPin;
};

/// The updater for applications: it publishes the local file name.
class QNINET_API TQNWebUpdater : public TQNCustomWebUpdater {
  QNINET_OBJECT(TQNWebUpdater, TQNCustomWebUpdater)
public:
  /// Creates the component; `AOwner` (or none) owns it and destroys it with itself.
  explicit TQNWebUpdater(TComponent* AOwner);
  ~TQNWebUpdater() override;
  /// The local file that the download replaces, in one step.
  const String& LocalFileName() const { return FLocalFileName; }
  /// Sets `LocalFileName`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetLocalFileName(const String& value) {
    RefuseWriteWhileRunning(*this);
    FLocalFileName = value;
  }
};

}  // namespace qninet
