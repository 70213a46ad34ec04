#pragma once
// The harness's scripted UDP server is the loopback module's, shared with the program's demo.

#include "loopback/UdpScriptedServer.h"

namespace qninet::harness {
using loopback::UdpScriptedServer;
}  // namespace qninet::harness
