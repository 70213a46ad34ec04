#pragma once
// The harness's scripted TCP server is the loopback module's, shared with the program's demo.

#include "loopback/ScriptedServer.h"

namespace qninet::harness {
using loopback::Script;
using loopback::ScriptedServer;
}  // namespace qninet::harness
