#include "qninet/web/qniupdate.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "qninet/core/QNILogOn.h"
#include "qninet/core/QNInCnst.h"
#include "qninet/sys/Files.h"
#include "qninet/rtl/Forms.h"

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
                  PublishedEvent("OnProgress", &Self::OnProgress),
                  PublishedEvent("OnBeforeExecute", &Self::OnBeforeExecute),
                  PublishedEvent("OnAfterExecute", &Self::OnAfterExecute),
                  PublishedEvent("OnActionChange", &Self::OnActionChange),
                  PublishedEvent("OnStatusChange", &Self::OnStatusChange))

QNINET_CLASS_INFO(TQNCustomWebUpdater,
                  Published("RemoteFileName", &Self::RemoteFileName, &Self::SetRemoteFileName),
                  PublishedEvent("OnFileCompare", &Self::OnFileCompare))

QNINET_CLASS_INFO(TQNWebUpdater, Published("LocalFileName", &Self::LocalFileName, &Self::SetLocalFileName))

namespace {

constexpr std::size_t kWriteBehind = 64 * 1024;

// The local side of a download: a file written through a buffer of its own, so the disk sees
// large writes while the engine works in small blocks.
class DownloadFile {
public:
  explicit DownloadFile(std::string path) : FPath(std::move(path)) { FBuffer.reserve(kWriteBehind); }
  void Open(bool append) {
    String reason;
    const auto mode = append ? sys::FileOpenMode::ReadWrite : sys::FileOpenMode::Create;
    if (!FFile.Open(FPath, mode, reason))
      throw EFCreateError(Format(u"Cannot create file \"%s\". %s", FromUtf8(FPath), reason));
    FSize = append ? std::max<std::int64_t>(FFile.Seek(0, 2), 0) : 0;
  }
  std::uint64_t Size() const { return static_cast<std::uint64_t>(FSize); }
  void Restart() {
    FBuffer.clear();
    FFile.Truncate(0);
    FFile.Seek(0, 0);
    FSize = 0;
  }
  void Write(const char* data, std::size_t n) {
    if (FBuffer.size() + n > kWriteBehind) Flush();
    if (n >= kWriteBehind) {
      write_out(data, n);
    } else {
      FBuffer.insert(FBuffer.end(), data, data + n);
    }
    FSize += static_cast<std::int64_t>(n);
  }
  void Flush() {
    if (FBuffer.empty()) return;
    write_out(FBuffer.data(), FBuffer.size());
    FBuffer.clear();
  }
  /// Everything to the disk before the rename makes it the local file.
  void Commit() {
    Flush();
    if (!FFile.Sync()) throw EWriteError(Format(u"Cannot write file \"%s\"", FromUtf8(FPath)));
    FFile.Close();
  }
  void Close() noexcept {
    try {
      Flush();
    } catch (...) {
    }
    FFile.Close();
  }
  const std::string& Path() const { return FPath; }

private:
  void write_out(const char* data, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
      const std::int64_t w = FFile.Write(data + done, static_cast<std::int64_t>(n - done));
      if (w <= 0) throw EWriteError(Format(u"Cannot write file \"%s\"", FromUtf8(FPath)));
      done += static_cast<std::size_t>(w);
    }
  }
  std::string FPath;
  sys::FileHandle FFile;
  std::vector<char> FBuffer;
  std::int64_t FSize = 0;
};

std::string partial_name(const std::string& local) { return local + ".part"; }

std::string temp_name_beside(const std::string& local) {
  const String dir = ExtractFilePath(FromUtf8(local));
  const std::string folder = dir.empty() ? std::string("./") : ToUtf8(dir);
  std::string prefix(1, '.');
  prefix.append(ToUtf8(ExtractFileName(FromUtf8(local)))).push_back('.');
  return sys::make_temp_file(folder, prefix);
}

}  // namespace

std::uint64_t parse_content_length(const String& text) {
  const String t = Trim(text);
  if (t.empty()) return kQNIUnknownSize;
  std::uint64_t v = 0;
  for (char16_t c : t) {
    if (c < u'0' || c > u'9') return kQNIUnknownSize;
    const std::uint64_t d = static_cast<std::uint64_t>(c - u'0');
    if (v > (UINT64_MAX - d) / 10) return kQNIUnknownSize;
    v = v * 10 + d;
  }
  return v;
}

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
      FWEBAgent(u"Veltraxon WebUpdater"),
      FProxy(std::make_unique<TQNInetProxy>()),
      FStatusDialog(std::make_unique<TQNInetStatusDialog>()) {
  FProxy->SetPort(0);
}

TQNCustomWebComponent::~TQNCustomWebComponent() {
  close_handles();
  free_status_form();
}

void TQNCustomWebComponent::SetService(TQNIService value) {
  if (value == FService) return;
  FService = value;
  // While loading, the stored Port (read before Service) is the one to keep.
  if (ComponentState().Contains(csLoading)) return;
  switch (value) {
    case isHTTP:
      FWEBPort = 80;
      break;
    case isHTTPS:
      FWEBPort = 443;
      break;
    case isFTP:
      FWEBPort = 21;
      break;
    case isNetwork:
      break;
  }
}

void TQNCustomWebComponent::SetStatus(TQNIStatus value) {
  if (value == FStatus) return;
  FStatus = value;
  if (FOnStatusChange) FOnStatusChange(this);
}

void TQNCustomWebComponent::SetAction(TQNIAction value) {
  if (value == FAction) return;
  FAction = value;
  if (dlgStatus && FStatusDialog->Enabled()) {
    dlgStatus->ShowAction(value);
    Application().ProcessMessages();
  }
  if (FOnActionChange) FOnActionChange(this);
}

void TQNCustomWebComponent::prepare_status_form() {
  if (!dlgStatus) dlgStatus = new TfrmQNInetUpdate(nullptr);
  TfrmQNInetUpdate& f = *dlgStatus;
  if (const auto* updater = dynamic_cast<const TQNCustomWebUpdater*>(this)) {
    f.lblRemoteFileName->SetVisible(true);
    f.lblRemoteFileName->SetCaption(FWEBHost + u"/" + updater->RemoteFileName());
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
  if (!dlgStatus) return;
  try {
    dlgStatus->Hide();
  } catch (...) {
  }
  delete dlgStatus;
  dlgStatus = nullptr;
}

void TQNCustomWebComponent::close_handles() noexcept {
  if (hFindFile) sys::inet_close(hFindFile);
  if (hURL) sys::inet_close(hURL);
  if (hInet) sys::inet_close(hInet);
  hFindFile = hURL = hInet = nullptr;
}

bool TQNCustomWebComponent::Execute() {
  if (FOnBeforeExecute) FOnBeforeExecute(this);
  FLastError.clear();
  try {
    if (FStatusDialog->Enabled()) prepare_status_form();
    SetStatus(isInProgress);
    InternalExecute();
  } catch (...) {
    // The run is over: nothing may stay open or on screen, and it did not succeed.
    close_handles();
    free_status_form();
    SetStatus(isFailed);
    throw;
  }
  if (FStatus == isInProgress) SetStatus(isFinished);
  const bool result = FStatus != isFailed;
  free_status_form();
  if (FOnAfterExecute) FOnAfterExecute(this);
  return result;
}

void TQNCustomWebComponent::ConnectToInet(bool LoadProxy) {
  SetAction(iaConnecting);
  if (FService != isNetwork) {
    try {
      if (LoadProxy) FProxy->FillProxyInfo();
      String proxy;
      if (FProxy->UseProxy() && !FProxy->Server().empty()) {
        proxy = FProxy->Server();
        // The system's setting keeps the port apart from the server; without it the proxy
        // would be asked on a port nobody named.
        if (proxy.find(u':') == String::npos && FProxy->Port() > 0) proxy += u":" + IntToStr(FProxy->Port());
      }
      hInet = sys::inet_open(FWEBAgent, proxy, FTimeout);
      hURL = nullptr;
      if (hInet) {
        hURL = sys::inet_connect(hInet, FWEBHost, FWEBPort, FWEBUser, FWEBPassword,
                                 FService == isFTP ? sys::InetService::Ftp : sys::InetService::Http);
        if (!hURL) FLastError = sys::inet_last_error_text();
      }
    } catch (const std::exception&) {
      SetStatus(isFailed);
    }
  }
  SetAction(iaConnected);
}

void TQNCustomWebComponent::DisconnectFromInet() {
  SetAction(iaDisconnecting);
  close_handles();
  SetAction(iaDisconnected);
}

bool TQNCustomWebComponent::GetFileInfoFromInet(const String& FileName, std::uint64_t& FileSize,
                                                TFileTime& FileTime) {
  bool result = false;
  FileSize = 0;
  if (!hURL && FService != isNetwork) return false;
  SetAction(iaFileSearch);
  bool networkFound = false;
  try {
    switch (FService) {
      case isHTTP:
      case isHTTPS: {
        hFindFile = sys::http_open_request(hURL, u"GET", FileName, u"HTTP/1.0",
                                           FService == isHTTPS ? sys::inetFlagSecure : sys::inetFlagReload);
        int attempts = 0;
        int unreadable = 0;
        std::uint32_t code = 0;
        String failure;
        while (hFindFile) {
          ++attempts;
          sys::http_send_request(hFindFile, String(), nullptr, 0);
          if (!sys::http_query_status_code(hFindFile, code)) {
            // One more try, then the loop ends as for any answer (no endless resending).
            if (++unreadable <= 1) continue;
            failure = sys::inet_last_error_text();
            if (failure.empty()) failure = u"No answer from the server";
            code = 0;
            break;
          }
          if (code == 401 || code == 407) {
            const bool proxy = code == 407;
            if (FLoginPrompt) {
              String user = proxy ? FProxy->User() : FWEBUser;
              String password = proxy ? FProxy->Password() : FWEBPassword;
              if (QNInAskLogon(proxy ? strQNInProxyLogon : strQNInLogon, user, password)) {
                if (proxy) {
                  FProxy->SetUser(user);
                  FProxy->SetPassword(password);
                } else {
                  FWEBUser = user;
                  FWEBPassword = password;
                }
                attempts = 0;
              } else {
                attempts = 2;
              }
            }
            if (attempts > 1) {
              failure = proxy ? strQNInEProxyAuth : strQNInEAuthRequired;
              break;
            }
            using sys::InetCredential;
            sys::inet_set_credential(hFindFile,
                                     proxy ? InetCredential::ProxyUserName : InetCredential::UserName,
                                     proxy ? FProxy->User() : FWEBUser);
            sys::inet_set_credential(hFindFile,
                                     proxy ? InetCredential::ProxyPassword : InetCredential::Password,
                                     proxy ? FProxy->Password() : FWEBPassword);
            continue;
          }
          break;
        }
        if (!hFindFile) {
          SetStatus(isFailed);
          FLastError = sys::inet_last_error_text();
        } else if (!failure.empty() || code >= 400) {
          // An error answer is not the file: its body is never compared or downloaded.
          sys::inet_close(hFindFile);
          hFindFile = nullptr;
          if (code == 404 || code == 410) {
            FLastError = Format(u"HTTP status %d", static_cast<Integer>(code));
          } else {
            FLastError = failure.empty() ? Format(u"HTTP status %d", static_cast<Integer>(code)) : failure;
            SetStatus(isFailed);
          }
        } else {
          String length;
          if (sys::http_query_content_length(hFindFile, length)) FileSize = parse_content_length(length);
          TFileTime modified = 0;
          if (sys::http_query_last_modified(hFindFile, modified)) FileTime = modified;
        }
        break;
      }
      case isFTP: {
        sys::FtpFindData data;
        hFindFile = sys::ftp_find_first(hURL, FileName, data);
        if (hFindFile) {
          FileSize = data.Size;
          if (data.LastWriteTime != 0) FileTime = data.LastWriteTime;
        } else {
          FLastError = sys::inet_last_error_text();
        }
        break;
      }
      case isNetwork: {
        const std::string path = ToUtf8(FileName);
        if (sys::file_exists(path) && !sys::directory_exists(path)) {
          FileSize = static_cast<std::uint64_t>(sys::file_size(path).value_or(0));
          if (const auto t = sys::file_write_time(path)) FileTime = *t;
          networkFound = true;
        }
        break;
      }
    }
  } catch (const std::exception&) {
    // Look-up errors are absorbed: the file counts as not found.
  }
  if (hFindFile || networkFound) {
    result = true;
    SetAction(iaFileFound);
  }
  return result;
}

bool TQNCustomWebComponent::ReadFileFromInet(const String& RemoteFileName, const String& LocalFileName,
                                             std::uint64_t ExpectedSize, const TFileTime* FileTime) {
  bool result = false;
  if (!hURL && FService != isNetwork) return false;
  SetAction(iaDownloading);

  sys::FileHandle networkSource;
  sys::InetHandle source = nullptr;
  switch (FService) {
    case isFTP:
      if (hFindFile) sys::inet_close(hFindFile);
      hFindFile = sys::ftp_open_file(hURL, RemoteFileName, sys::inetFlagBinary | sys::inetFlagReload);
      source = hFindFile;
      break;
    case isNetwork: {
      String reason;
      if (!networkSource.Open(ToUtf8(RemoteFileName), sys::FileOpenMode::Read, reason))
        throw EFOpenError(Format(u"Cannot open file \"%s\". %s", RemoteFileName, reason));
      break;
    }
    case isHTTP:
    case isHTTPS:
      source = hFindFile;
      break;
  }
  if (!source && !networkSource.IsOpen()) {
    SetAction(iaDownloaded);
    return false;
  }

  const std::string local = ToUtf8(LocalFileName);
  const std::string part = partial_name(local);
  const bool knownSize = progress_total_known(ExpectedSize);
  // Resume only a partial file of this same remote version (its time is the remote time).
  bool append = false;
  if (FResumeDownload && sys::file_exists(part)) {
    const auto size = sys::file_size(part).value_or(0);
    const auto time = sys::file_write_time(part);
    const bool sameVersion = !FileTime || *FileTime == 0 || (time && *time == *FileTime);
    append = size > 0 && sameVersion && (!knownSize || static_cast<std::uint64_t>(size) < ExpectedSize);
  }
  std::string tempPath = FResumeDownload ? part : temp_name_beside(local);
  if (tempPath.empty())
    throw EFCreateError(
        Format(u"Cannot create file \"%s\". %s", FromUtf8(local + ".tmp"), sys::system_error_text(errno)));
  DownloadFile dest(tempPath);
  bool committed = false;
  auto discard = [&]() noexcept {
    dest.Close();
    if (committed) return;
    if (FResumeDownload) {
      // Kept for the next run, marked with the remote time it belongs to.
      if (FileTime && *FileTime != 0) sys::set_file_write_time(tempPath, *FileTime);
    } else {
      sys::remove_file(tempPath);
    }
  };
  try {
    dest.Open(append);
    std::uint64_t offset = append ? dest.Size() : 0;
    if (offset > 0) {
      bool positioned = false;
      if (networkSource.IsOpen())
        positioned =
            networkSource.Seek(static_cast<std::int64_t>(offset), 0) == static_cast<std::int64_t>(offset);
      else
        positioned = sys::inet_set_read_position(source, offset);
      if (!positioned) {
        FLastError = sys::inet_last_error_text();
        discard();
        SetAction(iaDownloaded);
        return false;
      }
    } else if (FResumeDownload) {
      dest.Restart();
    }

    bool abort = false;
    bool failed = false;
    std::uint64_t total = 0;
    char buffer[kQNIBlockSize];
    for (;;) {
      std::memset(buffer, 0, sizeof buffer);
      std::size_t count = 0;
      if (networkSource.IsOpen()) {
        const std::int64_t n = networkSource.Read(buffer, static_cast<std::int64_t>(sizeof buffer));
        if (n < 0) {
          failed = true;
          FLastError = u"Cannot read the source file";
          break;
        }
        count = static_cast<std::size_t>(n);
      } else if (!sys::inet_read(source, buffer, sizeof buffer, count)) {
        // A reset, a close before the announced length or a time-out: not the end of the file.
        failed = true;
        FLastError = sys::inet_last_error_text();
        break;
      }
      if (count == 0) break;
      total += count;
      dest.Write(buffer, count);
      UpdateProgress(total, ExpectedSize, abort);
      if (abort) break;
    }
    if (!failed && !abort && knownSize && FService == isNetwork && offset + total != ExpectedSize) {
      failed = true;
      FLastError = u"The source file changed during the download";
    }
    if (failed) {
      discard();
      SetAction(iaDownloaded);
      return false;
    }
    result = true;
    if (abort) {
      SetStatus(isFailed);
      discard();
    } else {
      dest.Commit();
      sys::copy_file_permissions(local, tempPath);
      if (FileTime && *FileTime != 0) sys::set_file_write_time(tempPath, *FileTime);
      String reason;
      if (!sys::rename_file(tempPath, local, &reason))
        throw EFCreateError(Format(u"Cannot create file \"%s\". %s", LocalFileName, reason));
      committed = true;
      if (!FResumeDownload) sys::remove_file(part);
    }
  } catch (...) {
    discard();
    throw;
  }
  SetAction(iaDownloaded);
  return result;
}

void TQNCustomWebComponent::UpdateProgress(std::uint64_t CurValue, std::uint64_t MaxValue, bool& Abort) {
  if (dlgStatus && FStatusDialog->Enabled()) {
    Abort = dlgStatus->IsCanceled;
    dlgStatus->ShowProgress(CurValue, MaxValue);
    Application().ProcessMessages();
  }
  if (FOnProgress) FOnProgress(this, CurValue, MaxValue, Abort);
}

// ---------------------------------------------------------------------------------------------

TQNCustomWebUpdater::TQNCustomWebUpdater(TComponent* AOwner) : TQNCustomWebComponent(AOwner) {}

void TQNCustomWebUpdater::SetRemoteFileName(const String& value) { FRemoteFileName = value; }

void TQNCustomWebUpdater::InternalExecute() {
  ConnectToInet(true);
  if (Service() != isNetwork && (!hInet || !hURL)) {
    SetStatus(isFailed);
  } else if (!GetFileInfoFromInet(FRemoteFileName, FRemoteFileSize, FRemoteFileCreated)) {
    // A failure already said so; otherwise the file is not there.
    if (Status() != isFailed) SetStatus(isNotFound);
  } else {
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
    if (FOnFileCompare) {
      bool equal = !download;
      FOnFileCompare(this, equal);
      download = !equal;
    }
    SetAction(iaCompared);
    if (download) {
      // The remote time is given to the new file before it replaces the local one.
      if (!ReadFileFromInet(FRemoteFileName, FLocalFileName, FRemoteFileSize, &FRemoteFileCreated))
        SetStatus(isFailed);
    } else {
      SetStatus(isSkipped);
    }
  }
  DisconnectFromInet();
}

TQNWebUpdater::TQNWebUpdater(TComponent* AOwner) : TQNCustomWebUpdater(AOwner) {}

}  // namespace qninet
