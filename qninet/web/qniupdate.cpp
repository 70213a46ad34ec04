#include "qninet/web/qniupdate.h"

#include <atomic>

#include "qninet/core/QNInCnst.h"
#include "qninet/core/Url.h"
#include "qninet/rtl/Forms.h"
#include "qninet/sys/Files.h"
#include "qninet/web/WebDownload.h"

namespace qninet {

QNINET_DEFINE_ENUM_INFO(TQNIService, "isHTTP", "isHTTPS", "isFTP", "isNetwork")
QNINET_DEFINE_ENUM_INFO(TQNIStatus, "isInProgress", "isFinished", "isFailed", "isSkipped", "isNotFound")
QNINET_DEFINE_ENUM_INFO(TQNIAction, "iaIdle", "iaConnecting", "iaConnected", "iaDisconnecting",
                        "iaDisconnected", "iaFileSearch", "iaFileFound", "iaComparing", "iaCompared",
                        "iaDownloading", "iaDownloaded")

QNINET_CLASS_INFO(TQNInetStatusDialog, Published("Enabled", &Self::Enabled, &Self::SetEnabled, false),
                  Published("HelpContext", &Self::HelpContext, &Self::SetHelpContext, 0),
                  Published("Picture", &Self::Picture), Published("Icon", &Self::Icon),
                  Published("Title", &Self::Title, &Self::SetTitle),
                  Published("Description", &Self::Description, &Self::SetDescription))

QNINET_CLASS_INFO(TQNCustomWebComponent,
                  Published("Agent", &Self::Agent, &Self::SetAgent, String(u"Veltraxon WebUpdater")),
                  Published("Port", &Self::Port, &Self::SetPort),
                  Published("Service", &Self::Service, &Self::SetService, isHTTP),
                  Published("Host", &Self::Host, &Self::SetHost),
                  Published("User", &Self::User, &Self::SetUser),
                  Published("Password", &Self::Password, &Self::SetPassword),
                  Published("Proxy", &Self::Proxy), Published("StatusDialog", &Self::StatusDialog),
                  Published("LoginPrompt", &Self::LoginPrompt, &Self::SetLoginPrompt, true),
                  Published("Timeout", &Self::Timeout, &Self::SetTimeout, 60000),
                  Published("MaxTime", &Self::MaxTime, &Self::SetMaxTime, 0),
                  PublishedEvent("OnProgress", &Self::OnProgress),
                  PublishedEvent("OnBeforeExecute", &Self::OnBeforeExecute),
                  PublishedEvent("OnAfterExecute", &Self::OnAfterExecute),
                  PublishedEvent("OnActionChange", &Self::OnActionChange),
                  PublishedEvent("OnStatusChange", &Self::OnStatusChange),
                  PublishedEvent("OnDone", &Self::OnDone))

QNINET_CLASS_INFO(TQNCustomWebUpdater,
                  Published("RemoteFileName", &Self::RemoteFileName, &Self::SetRemoteFileName),
                  PublishedEvent("OnFileCompare", &Self::OnFileCompare))

QNINET_CLASS_INFO(TQNWebUpdater, Published("LocalFileName", &Self::LocalFileName, &Self::SetLocalFileName),
                  Published("ExpectedSHA256", &Self::ExpectedSHA256, &Self::SetExpectedSHA256),
                  Published("PublicKey", &Self::PublicKey, &Self::SetPublicKey),
                  Published("SignatureURL", &Self::SignatureURL, &Self::SetSignatureURL))

// The state of one run: the source, the status form, and the cancel flag that a signal
// handler may set.
struct TQNCustomWebComponent::TRun {
  std::unique_ptr<TQNWebSource> Source;
  TfrmQNInetUpdate* dlgStatus = nullptr;
  std::atomic<bool> Cancelled{false};
  bool Running = false;  // while an Execute runs
};

// ---------------------------------------------------------------------------------------------

TQNInetStatusDialog::TQNInetStatusDialog()
    : FPicture(std::make_unique<TPicture>()), FIcon(std::make_unique<TIcon>()) {}

TQNInetStatusDialog::~TQNInetStatusDialog() = default;

void TQNInetStatusDialog::Assign(const TPersistent* Source) {
  if (const auto* s = dynamic_cast<const TQNInetStatusDialog*>(Source)) {
    FEnabled = s->FEnabled;
    FHelpContext = s->FHelpContext;
    FPicture->Assign(s->FPicture.get());
    FIcon->Assign(s->FIcon.get());
    FTitle = s->FTitle;
    FDescription = s->FDescription;
    return;
  }
  TPersistent::Assign(Source);
}

// ---------------------------------------------------------------------------------------------

TQNCustomWebComponent::TQNCustomWebComponent(TComponent* AOwner)
    : TComponent(AOwner),
      FProxy(std::make_unique<TQNInetProxy>()),
      FStatusDialog(std::make_unique<TQNInetStatusDialog>()),
      FRun(std::make_unique<TRun>()),
      FAsync(std::make_unique<TAsyncRunner>(*this)) {
  FProxy->SetPort(0);
  FConnection.Agent = u"Veltraxon WebUpdater";
  FConnection.LoginPrompt = true;
  FConnection.Proxy = FProxy.get();
  FConnection.Cancel = &FRun->Cancelled;
}

TQNCustomWebComponent::~TQNCustomWebComponent() {
  // A component on the stack reaches here with its run going: stop it before the members go.
  StopAsyncRun();
  close_source();
  free_status_form();
}

void TQNCustomWebComponent::operator delete(TQNCustomWebComponent* p, std::destroying_delete_t) {
  p->StopAsyncRun();
  void* whole = dynamic_cast<void*>(p);
  p->~TQNCustomWebComponent();
  ::operator delete(whole);
}

void TQNCustomWebComponent::StopAsyncRun() noexcept {
  if (!FAsync->Busy()) return;
  FRun->Cancelled.store(true);
  FAsync->Stop();
  FRun->Cancelled.store(false);
}

void TQNCustomWebComponent::ExecuteAsync() {
  FAsync->RefuseSecondRun();
  FAsync->Start(
      [this] {
        try {
          return Execute();
        } catch (const Exception& e) {
          if (FLastError.empty()) FLastError = e.Message();
          return false;
        }
      },
      [this](bool ok) {
        if (FOnDone) FOnDone(this, ok);
      });
}

TQNWebSource* TQNCustomWebComponent::Source() const { return FRun->Source.get(); }
TfrmQNInetUpdate* TQNCustomWebComponent::StatusForm() const { return FRun->dlgStatus; }
void TQNCustomWebComponent::Cancel() { FRun->Cancelled.store(true); }

void TQNCustomWebComponent::clear_cancel() noexcept { FRun->Cancelled.store(false); }
std::atomic<bool>& TQNCustomWebComponent::cancel_flag() noexcept { return FRun->Cancelled; }
void TQNCustomWebComponent::ApplyURLPath(const String&) {}

void TQNCustomWebComponent::SetURL(const String& value) {
  RefuseWriteWhileRunning(*this);
  const std::string text = ToUtf8(value);
  String why;
  const auto url = Url::Parse(text, &why);
  if (!url) throw EConvertError(Format(u"Invalid URL \"%s\": %s", value, why));
  const auto service = ServiceOfScheme(url->Scheme());
  if (!service)
    throw EConvertError(Format(u"Cannot use \"%s\": unsupported scheme \"%s\" (http, https, ftp or file)",
                               value, FromUtf8(url->Scheme())));
  SetService(*service);
  // The parsed value is the connection's target, whole; a path keeps the host and port.
  Url target = *url;
  if (*service == isNetwork) {
    target.SetHost(FConnection.Target.Host());
    target.SetPort(FConnection.Target.Port());
  }
  FConnection.Target = std::move(target);
  ApplyURLPath(RemoteName(FConnection));
}

void TQNCustomWebComponent::SetService(TQNIService value) {
  RefuseWriteWhileRunning(*this);
  if (value == FConnection.Service) return;
  // The remote name reads the same under the new service (HTTP keeps escapes, others decode).
  const String name = RemoteName(FConnection);
  FConnection.Service = value;
  static const char* const kSchemes[] = {"http", "https", "ftp", "file"};
  FConnection.Target.SetScheme(kSchemes[value]);
  SetRemoteName(FConnection, name);
  // While loading, the stored Port (read before Service) is the one to keep.
  if (ComponentState().Contains(csLoading)) return;
  static const std::uint16_t kPorts[] = {80, 443, 21, 0};
  if (value != isNetwork) FConnection.Target.SetPort(kPorts[value]);
}

void TQNCustomWebComponent::SetStatus(TQNIStatus value) {
  if (value == FStatus) return;
  FStatus = value;
  if (FOnStatusChange) OnStartingThread([this] { FOnStatusChange(this); });
}

void TQNCustomWebComponent::SetAction(TQNIAction value) {
  if (value == FAction) return;
  FAction = value;
  if (!(FRun->dlgStatus && FStatusDialog->Enabled()) && !FOnActionChange) return;
  // An asynchronous run's window is drawn by the starting thread's own event loop.
  const bool pump = !InAsyncWorker();
  OnStartingThread([&] {
    if (FRun->dlgStatus && FStatusDialog->Enabled()) {
      FRun->dlgStatus->ShowAction(value);
      if (pump) Application().ProcessMessages();
    }
    if (FOnActionChange) FOnActionChange(this);
  });
}

void TQNCustomWebComponent::prepare_status_form() {
  if (!FRun->dlgStatus) FRun->dlgStatus = new TfrmQNInetUpdate(nullptr);
  TfrmQNInetUpdate& f = *FRun->dlgStatus;
  if (const auto* updater = dynamic_cast<const TQNCustomWebUpdater*>(this)) {
    f.lblRemoteFileName->SetVisible(true);
    // One "/" between host and name: HTTP and FTP names usually start with one already, and a
    // network path has no host at all.
    const String name = updater->RemoteFileName();
    const String host = Host();
    const bool joined = host.empty() || (!name.empty() && name.front() == u'/');
    f.lblRemoteFileName->SetCaption(joined ? host + name : host + u"/" + name);
    f.lblLocalFileName->SetVisible(true);
    f.lblLocalFileName->SetCaption(updater->LocalFileName());
  } else {
    f.lblRemoteFileName->SetVisible(false);
    f.lblLocalFileName->SetVisible(false);
  }
  f.lblCaption->SetCaption(FStatusDialog->Title().empty() ? Application().Title() : FStatusDialog->Title());
  if (!FStatusDialog->Description().empty()) f.lblDescription->SetCaption(FStatusDialog->Description());
  if (!FStatusDialog->Icon()->Empty()) f.Icon()->Assign(FStatusDialog->Icon());
  if (!FStatusDialog->Picture()->Empty()) f.imgLogo->SetPicture(FStatusDialog->Picture());
  f.IsCanceled = false;
  f.Show();
}

void TQNCustomWebComponent::free_status_form() noexcept {
  if (!FRun->dlgStatus) return;
  // The window belongs to the starting thread; a run given up leaves it to the destructor.
  try {
    OnStartingThread([this] {
      try {
        FRun->dlgStatus->Hide();
      } catch (...) {
      }
      delete FRun->dlgStatus;
      FRun->dlgStatus = nullptr;
    });
  } catch (...) {
  }
}

void TQNCustomWebComponent::close_source() noexcept { FRun->Source.reset(); }

bool TQNCustomWebComponent::Execute() {
  // A handler (or a timer fired by the status window's message processing) that runs the
  // component again would close the source the running transfer still reads: refuse it
  // before anything of the running cycle, its status included, changes.
  FAsync->RefuseSecondRun();
  if (FRun->Running)
    throw EInvalidOperation((Name().empty() ? ClassName() : Name()) + u" is already running");
  FRun->Running = true;
  struct EndOfRun {
    TRun& R;
    ~EndOfRun() { R.Running = false; }
  } end{*FRun};
  if (FOnBeforeExecute) OnStartingThread([this] { FOnBeforeExecute(this); });
  FLastError.clear();
  TQNDeadlineWatch watch(FConnection.MaxTime, FRun->Cancelled);
  try {
    if (FStatusDialog->Enabled()) OnStartingThread([this] { prepare_status_form(); });
    SetStatus(isInProgress);
    InternalExecute();
    if (watch.Fired()) {
      FLastError = Format(strQNInETimeLimit, static_cast<Int64>(FConnection.MaxTime));
      SetStatus(isFailed);
    }
  } catch (...) {
    // The run is over: nothing may stay open or on screen, and it did not succeed.
    close_source();
    free_status_form();
    FRun->Cancelled.store(false);
    SetStatus(isFailed);
    throw;
  }
  FRun->Cancelled.store(false);
  if (FStatus == isInProgress) SetStatus(isFinished);
  const bool result = FStatus != isFailed;
  free_status_form();
  if (FOnAfterExecute) OnStartingThread([this] { FOnAfterExecute(this); });
  return result;
}

void TQNCustomWebComponent::ConnectToInet(bool LoadProxy) {
  SetAction(iaConnecting);
  close_source();
  try {
    if (LoadProxy && FLoadSystemProxy && FConnection.Service != isNetwork) FProxy->FillProxyInfo();
    auto source = MakeWebSource(FConnection);
    if (const auto connected = source->Connect())
      FRun->Source = std::move(source);
    else
      FLastError = connected.Text();
  } catch (const std::exception&) {
    SetStatus(isFailed);
  }
  SetAction(iaConnected);
}

void TQNCustomWebComponent::DisconnectFromInet() {
  SetAction(iaDisconnecting);
  close_source();
  SetAction(iaDisconnected);
}

bool TQNCustomWebComponent::GetFileInfoFromInet(std::uint64_t& FileSize, TFileTime& FileTime) {
  FileSize = 0;
  TQNWebSource* source = Source();
  if (!source) return false;
  SetAction(iaFileSearch);
  std::uint64_t size = 0;
  TFileTime time = 0;
  TQNIOutcome found = TQNIOutcome::Failed({});
  try {
    found = source->Lookup(size, time);
  } catch (const std::exception& e) {
    SetLastErrorText(FromUtf8(e.what()));
  }
  if (!found) {
    if (!found.Text().empty()) FLastError = found.Text();
    if (found.Kind() != TQNIOutcomeKind::NotFound) SetStatus(isFailed);
    return false;
  }
  FileSize = size;
  if (time != 0) FileTime = time;
  SetAction(iaFileFound);
  return true;
}

bool TQNCustomWebComponent::ReadFileFromInet(const String& LocalFileName, std::uint64_t ExpectedSize,
                                             const TFileTime* FileTime) {
  TQNWebSource* source = Source();
  if (!source) return false;
  SetAction(iaDownloading);
  TQNDownloadJob job;
  job.LocalFileName = LocalFileName;
  job.ExpectedSize = ExpectedSize;
  job.RemoteTime = FileTime ? *FileTime : 0;
  job.Resume = FResumeDownload;
  job.Cancel = &FRun->Cancelled;
  job.Progress = [this](std::uint64_t cur, std::uint64_t max, bool& abort) {
    UpdateProgress(cur, max, abort);
  };
  const TQNIOutcome result = DownloadToLocalFile(*source, job);
  if (!result) FLastError = result.Text();
  if (result.Kind() == TQNIOutcomeKind::Cancelled) SetStatus(isFailed);
  SetAction(iaDownloaded);
  return result.Kind() != TQNIOutcomeKind::Failed;
}

void TQNCustomWebComponent::UpdateProgress(std::uint64_t CurValue, std::uint64_t MaxValue, bool& Abort) {
  if (!(FRun->dlgStatus && FStatusDialog->Enabled()) && !FOnProgress) return;
  const bool pump = !InAsyncWorker();
  OnStartingThread([&] {
    if (FRun->dlgStatus && FStatusDialog->Enabled()) {
      Abort = FRun->dlgStatus->IsCanceled;
      FRun->dlgStatus->ShowProgress(CurValue, MaxValue);
      if (pump) Application().ProcessMessages();
    }
    if (FOnProgress) FOnProgress(this, CurValue, MaxValue, Abort);
  });
}

// ---------------------------------------------------------------------------------------------

TQNCustomWebUpdater::TQNCustomWebUpdater(TComponent* AOwner) : TQNCustomWebComponent(AOwner) {
  Connection().Pin = &FPin;
}

void TQNCustomWebUpdater::SetRemoteFileName(const String& value) {
  RefuseWriteWhileRunning(*this);
  // A name that reads as the target already does (a URL's path handed on) keeps its parts.
  if (value != RemoteFileName()) SetRemoteName(Connection(), value);
}

void TQNCustomWebUpdater::ApplyURLPath(const String& Path) { SetRemoteFileName(Path); }

void TQNCustomWebUpdater::InternalExecute() {
  FRemoteContentType.clear();
  FPin.ClearTrustedComment();
  ConnectToInet(true);
  if (!Source()) {
    SetStatus(isFailed);
  } else if (!GetFileInfoFromInet(FRemoteFileSize, FRemoteFileCreated)) {
    // A failure already said so; otherwise the file is not there.
    if (Status() != isFailed) SetStatus(isNotFound);
  } else {
    FRemoteContentType = Source()->ContentType();
    SetAction(iaComparing);
    bool download;
    const std::string local = ToUtf8(FLocalFileName);
    if (FRemoteFileSize == 0) {
      download = false;
    } else if (!sys::file_exists(local)) {
      download = true;
    } else if (static_cast<std::uint64_t>(sys::file_size(local).value_or(-1)) != FRemoteFileSize) {
      download = true;
    } else {
      download = sys::file_write_time(local).value_or(0) < FRemoteFileCreated;
    }
    // A pinned file is kept only while it still matches (a local file changed since is fetched).
    if (!download && FPin.Active()) download = !sys::file_exists(local) || !FPin.Check(Connection(), local);
    if (FOnFileCompare) {
      bool equal = !download;
      OnStartingThread([&] { FOnFileCompare(this, equal); });
      download = !equal;
    }
    SetAction(iaCompared);
    if (download) {
      // The remote time is given to the new file before it replaces the local one.
      if (!ReadFileFromInet(FLocalFileName, FRemoteFileSize, &FRemoteFileCreated))
        SetStatus(isFailed);
      else if (Source() && !Source()->ContentType().empty())
        FRemoteContentType = Source()->ContentType();
    } else {
      SetStatus(isSkipped);
    }
  }
  DisconnectFromInet();
}

TQNWebUpdater::TQNWebUpdater(TComponent* AOwner) : TQNCustomWebUpdater(AOwner) {}

// Each class up the line stops a run going on before its members go (a component on the stack).
TQNCustomWebUpdater::~TQNCustomWebUpdater() { StopAsyncRun(); }
TQNWebUpdater::~TQNWebUpdater() { StopAsyncRun(); }

}  // namespace qninet
