#pragma once
// The message table: every user-visible text of the library. They are variables, not
// constants: an application may assign translations before it uses the components, and
// every user reads the current value at the moment of use.

#include "qninet/rtl/SysUtils.h"

namespace qninet {

extern QNINET_API String strQNInSoftwareUpdate;
extern QNINET_API String strQNInConnecting;
extern QNINET_API String strQNInConnected;
extern QNINET_API String strQNInFileSearch;
extern QNINET_API String strQNInFileFound;
extern QNINET_API String strQNInFileComparing;
extern QNINET_API String strQNInFileCompared;
extern QNINET_API String strQNInDownloading;
extern QNINET_API String strQNInDownloaded;
extern QNINET_API String strQNInDisconnecting;
extern QNINET_API String strQNInDisconnected;
/// Bytes so far, total bytes, per cent; "%%" is a literal per-cent sign.
extern QNINET_API String strQNInProgress;
extern QNINET_API String strQNInProxyLogon;
extern QNINET_API String strQNInLogon;
extern QNINET_API String strQNInEHost;
extern QNINET_API String strQNInEAuthRequired;
extern QNINET_API String strQNInEProxyAuth;
extern QNINET_API String strQNInEFileNotFound;
/// The answer size cap in bytes.
extern QNINET_API String strQNInEAnswerTooLarge;
/// The total time bound of one exchange in seconds.
extern QNINET_API String strQNInETimeLimit;
/// Body bytes received, body bytes announced by Content-Length.
extern QNINET_API String strQNInEAnswerCut;
/// The name of a value bound for a protocol line.
extern QNINET_API String strQNInELineBreak;

}  // namespace qninet
