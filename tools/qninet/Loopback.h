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

}  // namespace qninet::tool::loopback
