#pragma once
// Starting a program that outlives the call: detached, without a terminal, at idle priority.

#include <string>
#include <vector>

namespace qninet::sys {

/// Starts `argv[0]` (a full path) with the argument vector through posix_spawn, never a
/// shell: in a session of its own (no controlling terminal), standard input and output on
/// /dev/null, scheduled as an idle task where the system allows it. Returns at once without
/// waiting for the process; a helper thread reaps it when it ends. Returns whether it started.
bool start_detached_process(const std::vector<std::string>& argv);

}  // namespace qninet::sys
