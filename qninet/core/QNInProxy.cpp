#include "qninet/core/QNInProxy.h"

#include "qninet/core/qniutil.h"
#include "qninet/rtl/TypInfo.h"

namespace qninet {

QNINET_CLASS_INFO(TQNInetProxy, Published("Server", &Self::Server, &Self::SetServer),
                  Published("User", &Self::User, &Self::SetUser),
                  Published("Password", &Self::Password, &Self::SetPassword),
                  Published("UseProxy", &Self::UseProxy, &Self::SetUseProxy, false),
                  Published("Port", &Self::Port, &Self::SetPort, 0))

void TQNInetProxy::Assign(const TPersistent* Source) {
  if (const auto* p = dynamic_cast<const TQNInetProxy*>(Source)) {
    FUseProxyServer = p->FUseProxyServer;
    FProxyServer = p->FProxyServer;
    FProxyUser = p->FProxyUser;
    FProxyPassword = p->FProxyPassword;
    FProxyPort = p->FProxyPort;
    return;
  }
  TPersistent::Assign(Source);
}

void TQNInetProxy::FillProxyInfo() { ReadProxyInfo(FProxyServer, FUseProxyServer, FProxyPort); }

}  // namespace qninet
