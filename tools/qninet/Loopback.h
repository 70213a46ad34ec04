#pragma once
// The demo steps' loopback servers: the scripted servers that the test harness uses too.

#include "loopback/ScriptedServer.h"
#include "loopback/UdpScriptedServer.h"

namespace qninet::tool::loopback {

using qninet::loopback::Script;
using qninet::loopback::ScriptedServer;
using qninet::loopback::UdpScriptedServer;

/// A request that ends with an empty line (HTTP, and the socket engine's header block).
inline bool HeaderComplete(const std::string& r) { return r.find("\r\n\r\n") != std::string::npos; }

/// A server that answers each connection with `answer(request)` once the request is whole and
/// closes; fewer than 0 connections: as many as come.
class TcpServer : public ScriptedServer {
public:
  TcpServer(int connections, Script::Complete complete, Script::Answer answer)
      : ScriptedServer(std::vector<Script>(connections < 0 ? 1 : static_cast<std::size_t>(connections),
                                           Script().Reply(std::move(complete), std::move(answer))),
                       Family::IPv4, std::chrono::seconds(10), connections < 0) {}
  static bool HeaderComplete(const std::string& r) { return loopback::HeaderComplete(r); }
};

}  // namespace qninet::tool::loopback
