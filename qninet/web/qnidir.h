#pragma once
// The remote directory lister: the names in a folder of an FTP server or of a path, optionally
// with every folder below it.

#include <memory>

#include "qninet/rtl/Strings.h"
#include "qninet/web/qniupdate.h"

namespace qninet {

/// The most folders one `ReadDirFromInet` reads, so that no server (links back up a tree,
/// folders made up as they are asked for) can make a walk endless; reaching it ends the run
/// `isFailed`.
inline constexpr int kQNIMaxListedFolders = 10000;

/// Fills `FileList` with the entries of `Directory` that match `WildCard`, and with
/// `SubFolders` those of the folders below it (`ReadDirFromInet`). `Service` is `isFTP` or
/// `isNetwork`; the HTTP services list nothing. `Status` ends `isFinished` when names were
/// found, `isNotFound` when none were, `isFailed` when the server could not be reached or the
/// walk was cut short (`Cancel`, `MaxTime`, `kQNIMaxListedFolders`).
class QNINET_API TQNRemoteFiles : public TQNCustomWebComponent {
  QNINET_OBJECT(TQNRemoteFiles, TQNCustomWebComponent)
public:
  /// Creates the component; `AOwner` (or none) owns it and destroys it with itself.
  explicit TQNRemoteFiles(TComponent* AOwner);
  ~TQNRemoteFiles() override;

  /// The folder to list (a local path or the remote folder's path).
  const String& Directory() const { return FDirectory; }
  /// Sets `Directory`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetDirectory(const String& value) {
    RefuseWriteWhileRunning(*this);
    FDirectory = value;
  }
  /// The file name pattern; empty lists every name.
  const String& WildCard() const { return FWildCard; }
  /// Sets `WildCard`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetWildCard(const String& value) {
    RefuseWriteWhileRunning(*this);
    FWildCard = value;
  }
  /// Whether the sub-folders are listed too, recursively.
  bool SubFolders() const { return FSubFolders; }
  /// Sets `SubFolders`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetSubFolders(bool value) {
    RefuseWriteWhileRunning(*this);
    FSubFolders = value;
  }
  /// The names found by the last run; emptied when a run starts.
  TStrings* FileList() const { return FFileList.get(); }

protected:
  void InternalExecute() override;
  /// A URL given to `SetURL` names the directory.
  void ApplyURLPath(const String& Path) override;

private:
  String FDirectory;
  String FWildCard;
  bool FSubFolders = false;
  std::unique_ptr<TStringList> FFileList;
};

}  // namespace qninet
