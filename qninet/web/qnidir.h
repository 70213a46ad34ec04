#pragma once
// The remote directory lister: the names in a folder of an FTP server or of a path, optionally
// with every folder below it.

#include <memory>

#include "qninet/rtl/Strings.h"
#include "qninet/web/qniupdate.h"

namespace qninet {

/// Fills `FileList` with the entries of `Directory` that match `WildCard`, and with
/// `SubFolders` those of the folders below it (`ReadDirFromInet`). `Service` is `isFTP` or
/// `isNetwork`; the HTTP services list nothing. `Status` ends `isFinished` when names were
/// found, `isNotFound` when none were, `isFailed` when the server could not be reached.
class QNINET_API TQNRemoteFiles : public TQNCustomWebComponent {
  QNINET_OBJECT(TQNRemoteFiles, TQNCustomWebComponent)
public:
  explicit TQNRemoteFiles(TComponent* AOwner);
  ~TQNRemoteFiles() override;

  const String& Directory() const { return FDirectory; }
  void SetDirectory(const String& value) { FDirectory = value; }
  const String& WildCard() const { return FWildCard; }
  void SetWildCard(const String& value) { FWildCard = value; }
  bool SubFolders() const { return FSubFolders; }
  void SetSubFolders(bool value) { FSubFolders = value; }
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
