#pragma once
// The proxy settings shared by the socket and the web components.

#include "qninet/rtl/Classes.h"

namespace qninet {

/// An HTTP proxy: whether to use it, where it is (host or dotted address, no scheme, no
/// port) and the credentials for it.
class QNINET_API TQNInetProxy : public TPersistent {
  QNINET_OBJECT(TQNInetProxy, TPersistent)
public:
  TQNInetProxy() = default;
  /// Copies UseProxy, Server, User, Password and Port from another proxy; anything else is
  /// refused by the base class.
  void Assign(const TPersistent* Source) override;
  /// Fills Server, UseProxy and Port from the system's proxy setting (`ReadProxyInfo`);
  /// User and Password are not touched.
  void FillProxyInfo();

  /// The proxy server's host name or address; empty for none.
  const String& Server() const { return FProxyServer; }
  /// Sets `Server`.
  void SetServer(const String& value) { FProxyServer = value; }
  /// The user name for the proxy; empty for none.
  const String& User() const { return FProxyUser; }
  /// Sets `User`.
  void SetUser(const String& value) { FProxyUser = value; }
  /// The password for the proxy.
  const String& Password() const { return FProxyPassword; }
  /// Sets `Password`.
  void SetPassword(const String& value) { FProxyPassword = value; }
  /// Whether connections go through the proxy.
  bool UseProxy() const { return FUseProxyServer; }
  /// Sets `UseProxy`.
  void SetUseProxy(bool value) { FUseProxyServer = value; }
  /// The proxy server's port.
  Integer Port() const { return FProxyPort; }
  /// Sets `Port`.
  void SetPort(Integer value) { FProxyPort = value; }

private:
  bool FUseProxyServer = false;
  String FProxyServer;
  String FProxyUser;
  String FProxyPassword;
  Integer FProxyPort = 0;
};

}  // namespace qninet
