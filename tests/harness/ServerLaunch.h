#pragma once

#include "harness/Process.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace qninet::harness {

/// The program's full path; throws std::runtime_error naming the Debian package when missing.
std::string RequireProgram(const std::string& name, const std::string& package);

/// Probes ready() (each probe short) until it holds; throws std::runtime_error with the tail
/// of the process's output and of the given log files when the process exits first or
/// timeout passes. The process is stopped before throwing.
void WaitUntilUp(Process& process, const std::string& what, std::chrono::milliseconds timeout,
                 const std::function<bool()>& ready, const std::vector<std::filesystem::path>& logFiles = {});

/// The tail of each file, labelled, for error messages.
std::string LogTails(const std::vector<std::filesystem::path>& logFiles, std::size_t maxBytes = 2000);

}  // namespace qninet::harness
