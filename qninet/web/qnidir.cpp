#include "qninet/web/qnidir.h"

namespace qninet {

QNINET_CLASS_INFO(TQNRemoteFiles, Published("Directory", &Self::Directory, &Self::SetDirectory),
                  Published("WildCard", &Self::WildCard, &Self::SetWildCard, String(u"*.*")),
                  Published("SubFolders", &Self::SubFolders, &Self::SetSubFolders, false))

TQNRemoteFiles::TQNRemoteFiles(TComponent* AOwner)
    : TQNCustomWebComponent(AOwner), FWildCard(u"*.*"), FFileList(std::make_unique<TStringList>()) {}

TQNRemoteFiles::~TQNRemoteFiles() { StopAsyncRun(); }

void TQNRemoteFiles::ApplyURLPath(const String& Path) { FDirectory = Path; }

void TQNRemoteFiles::InternalExecute() {
  FFileList->Clear();
  ConnectToInet(true);
  if (Service() != isNetwork && !Source()) {
    SetStatus(isFailed);
  } else if (!ReadDirFromInet(FDirectory, FWildCard, FSubFolders, FFileList.get())) {
    SetStatus(isNotFound);
  }
  DisconnectFromInet();
}

}  // namespace qninet
