#include "qninet/core/QNInCnst.h"

namespace qninet {

String strQNInSoftwareUpdate = u"Software update";
String strQNInConnecting = u"Connecting...";
String strQNInConnected = u"Connected.";
String strQNInFileSearch = u"File search...";
String strQNInFileFound = u"File found.";
String strQNInFileComparing = u"Comparing...";
String strQNInFileCompared = u"Compared.";
String strQNInDownloading = u"Downloading...";
String strQNInDownloaded = u"Downloaded.";
String strQNInDisconnecting = u"Disconnecting...";
String strQNInDisconnected = u"Disconnected.";
String strQNInProgress = u"Downloaded %d of %d bytes (%d%%)";
String strQNInProxyLogon = u"Proxy Server authorization";
String strQNInLogon = u"HTTP Server authorization";
String strQNInEHost = u"Host/Address is not defined.";
String strQNInEAuthRequired = u"HTTP Server authorization required";
String strQNInEProxyAuth = u"Proxy Server authorization required";
String strQNInEFileNotFound = u"File not found";
String strQNInEAnswerTooLarge = u"The answer is larger than %d bytes (MaxAnswerSize)";
String strQNInETimeLimit = u"The exchange took longer than %d seconds (MaxTime)";
String strQNInEAnswerCut = u"The answer ended after %d of %d announced bytes";
String strQNInELineBreak = u"%s holds a line break (CR or LF)";

}  // namespace qninet
