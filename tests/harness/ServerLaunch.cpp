#include "harness/ServerLaunch.h"

#include "harness/TempDir.h"

#include <stdexcept>
#include <thread>

namespace qninet::harness {

std::string RequireProgram(const std::string& name, const std::string& package) {
  std::string path = FindProgram(name);
  if (path.empty()) throw std::runtime_error(name + " not found; install the Debian package " + package);
  return path;
}

std::string LogTails(const std::vector<std::filesystem::path>& logFiles, std::size_t maxBytes) {
  std::string out;
  for (const auto& f : logFiles)
    out += "\n[" + f.filename().string() + "]\n" + Tail(ReadFileText(f), maxBytes);
  return out;
}

void WaitUntilUp(Process& process, const std::string& what, std::chrono::milliseconds timeout,
                 const std::function<bool()>& ready, const std::vector<std::filesystem::path>& logFiles) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (!process.Running()) {
      process.Stop();
      throw std::runtime_error(
          what + " exited during start-up (exit " + std::to_string(process.ExitCode().value_or(-1)) +
          ")\ncommand: " + process.CommandLine() + "\n" + process.LogTail() + LogTails(logFiles));
    }
    if (ready()) return;
    if (std::chrono::steady_clock::now() >= deadline) {
      std::string logs = process.LogTail() + LogTails(logFiles);
      process.Stop();
      throw std::runtime_error(what + " did not answer within " + std::to_string(timeout.count()) +
                               " ms\ncommand: " + process.CommandLine() + "\n" + logs);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

}  // namespace qninet::harness
