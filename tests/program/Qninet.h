#pragma once
// Runs the built program with its arguments, as the program tests all do.

#include <string>
#include <vector>

#include "harness/Process.h"

namespace qninet::harness {

inline RunResult Qninet(std::vector<std::string> args) {
  args.insert(args.begin(), QNINET_PROGRAM);
  return RunToCompletion(std::move(args), std::chrono::seconds(60));
}

}  // namespace qninet::harness
