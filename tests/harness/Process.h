#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qninet::harness {

class TempDir;

/// The full path of an executable (a name with a slash as is; else PATH, then /usr/sbin, /sbin,
/// /usr/bin, /bin: root's PATH may lack the sbin folders), or empty.
std::string FindProgram(const std::string& name);

/// A child process started with posix_spawn from an argument vector (never a shell), in its
/// own process group, with stdout and stderr going to files kept for diagnostics.
class Process {
public:
  /// Starts argv[0] (resolved with FindProgram), its output files in logDir or a temporary folder.
  /// Throws std::runtime_error when the program is missing or cannot be spawned.
  explicit Process(std::vector<std::string> argv, std::filesystem::path logDir = {});
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t Pid() const { return FPid; }
  /// Whether the process has not exited yet (does not reap it).
  bool Running();
  /// SIGTERM to the process group, SIGKILL after grace, then reaps it. Idempotent.
  void Stop(std::chrono::milliseconds grace = std::chrono::seconds(3));
  /// Waits up to timeout for the process to end by itself; its exit code, or nothing.
  std::optional<int> WaitExit(std::chrono::milliseconds timeout);
  /// Exit code when it exited normally, -signal when killed, nothing while running.
  std::optional<int> ExitCode() const { return FExitCode; }
  std::string StdoutText() const;
  /// Captured stdout then stderr, labelled; LogTail gives its end, for error messages.
  std::string Log() const;
  std::string LogTail(std::size_t maxBytes = 3000) const;
  std::string CommandLine() const;

private:
  void reap(bool wait);
  bool Ended(std::chrono::steady_clock::duration limit);  ///< waits up to limit for the exit
  std::vector<std::string> FArgv;
  std::unique_ptr<TempDir> FOwnLogDir;
  std::filesystem::path FOut, FErr;
  pid_t FPid = -1;
  bool FReaped = false;
  std::optional<int> FExitCode;
};

struct RunResult {
  int ExitCode = -1;   ///< exit code, -signal when killed, -1000 when it timed out
  std::string Stdout;  ///< stdout alone
  std::string Output;  ///< stdout and stderr, labelled
};

/// Runs a command to its end (killed after timeout). Throws std::runtime_error when it is missing.
RunResult RunToCompletion(std::vector<std::string> argv,
                          std::chrono::milliseconds timeout = std::chrono::seconds(30));

/// RunToCompletion that throws std::runtime_error with the output when the exit code is not 0;
/// returns stdout.
std::string RunOrThrow(std::vector<std::string> argv,
                       std::chrono::milliseconds timeout = std::chrono::seconds(30));

}  // namespace qninet::harness
