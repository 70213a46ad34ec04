#include "harness/Process.h"

#include "harness/TempDir.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace qninet::harness {
namespace {

bool is_executable(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::atomic<int> g_sequence{0};

}  // namespace

std::string FindProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) return is_executable(name) ? name : std::string();
  std::string dirs;
  if (const char* path = std::getenv("PATH")) dirs = path;
  dirs += ":/usr/sbin:/sbin:/usr/bin:/bin";
  std::stringstream in(dirs);
  std::string dir;
  while (std::getline(in, dir, ':')) {
    if (dir.empty()) continue;
    std::string candidate = dir + "/" + name;
    if (is_executable(candidate)) return candidate;
  }
  return {};
}

Process::Process(std::vector<std::string> argv, std::map<std::string, std::string> env,
                 std::filesystem::path logDir)
    : FArgv(std::move(argv)) {
  if (FArgv.empty()) throw std::runtime_error("Process: empty argument vector");
  const std::string program = FindProgram(FArgv[0]);
  if (program.empty())
    throw std::runtime_error("Process: program not found: " + FArgv[0] +
                             " (is its Debian package installed?)");
  if (logDir.empty()) {
    FOwnLogDir = std::make_unique<TempDir>("qninet-process");
    logDir = FOwnLogDir->Path();
  }
  const std::string stem = std::filesystem::path(FArgv[0]).filename().string() + "-" +
                           std::to_string(::getpid()) + "-" + std::to_string(g_sequence++);
  FOut = logDir / (stem + ".stdout");
  FErr = logDir / (stem + ".stderr");

  // Environment: inherited entries, with the additions replacing same-named ones.
  std::vector<std::string> envStrings;
  for (char** e = environ; e && *e; ++e) {
    std::string entry = *e;
    auto eq = entry.find('=');
    if (eq != std::string::npos && env.count(entry.substr(0, eq))) continue;
    envStrings.push_back(std::move(entry));
  }
  for (const auto& [key, value] : env) envStrings.push_back(key + "=" + value);
  std::vector<char*> envp;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<char*> args;
  for (auto& s : FArgv) args.push_back(s.data());
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, FOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, FErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);

  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // Own process group, so Stop reaches the server's workers too; default signal handling
  // and an empty mask, whatever the test runner set.
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int sig : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGCHLD, SIGQUIT, SIGUSR1, SIGUSR2})
    sigaddset(&defaults, sig);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  pid_t pid = -1;
  int rc = ::posix_spawn(&pid, program.c_str(), &actions, &attr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) throw std::runtime_error("Process: cannot start " + CommandLine() + ": " + std::strerror(rc));
  FPid = pid;
}

Process::~Process() { Stop(); }

void Process::reap(int status) {
  FReaped = true;
  if (WIFEXITED(status))
    FExitCode = WEXITSTATUS(status);
  else if (WIFSIGNALED(status))
    FExitCode = -WTERMSIG(status);
  else
    FExitCode = -1;
}

bool Process::Running() {
  if (FPid <= 0 || FReaped) return false;
  siginfo_t info{};
  // WNOWAIT keeps the leader a zombie, so its group id cannot be reused before Stop.
  if (::waitid(P_PID, static_cast<id_t>(FPid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return false;
  return info.si_pid == 0;
}

std::optional<int> Process::WaitExit(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (Running()) {
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!FReaped && FPid > 0) {
    int status = 0;
    if (::waitpid(FPid, &status, 0) == FPid)
      reap(status);
    else
      FReaped = true;
    ::kill(-FPid, SIGKILL);  // leftovers of the group, if any
  }
  return FExitCode;
}

void Process::Stop(std::chrono::milliseconds grace) {
  if (FPid <= 0 || FReaped) return;
  if (Running()) {
    ::kill(-FPid, SIGTERM);
    ::kill(FPid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + grace;
    while (Running() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // Whatever remains of the group (workers, or the leader after the grace) is killed.
  ::kill(-FPid, SIGKILL);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (Running() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  int status = 0;
  pid_t r = ::waitpid(FPid, &status, WNOHANG);
  if (r == FPid)
    reap(status);
  else
    FReaped = true;  // stuck in the kernel or already gone; do not wait forever
}

std::string Process::Log() const {
  return "[stdout]\n" + ReadFileText(FOut) + "\n[stderr]\n" + ReadFileText(FErr);
}

std::string Process::StdoutText() const { return ReadFileText(FOut); }

std::string Process::LogTail(std::size_t maxBytes) const { return Tail(Log(), maxBytes); }

std::string Process::CommandLine() const {
  std::string out;
  for (const auto& a : FArgv) {
    if (!out.empty()) out += ' ';
    out += a;
  }
  return out;
}

RunResult RunToCompletion(std::vector<std::string> argv, std::chrono::milliseconds timeout) {
  Process p(std::move(argv));
  RunResult result;
  auto status = p.WaitExit(timeout);
  if (!status) {
    p.Stop(std::chrono::milliseconds(200));
    result.ExitCode = -1000;
  } else {
    result.ExitCode = *status;
  }
  result.Stdout = p.StdoutText();
  result.Output = p.Log();
  return result;
}

std::string RunOrThrow(std::vector<std::string> argv, std::chrono::milliseconds timeout) {
  std::string line;
  for (const auto& a : argv) line += (line.empty() ? "" : " ") + a;
  auto r = RunToCompletion(std::move(argv), timeout);
  if (r.ExitCode != 0)
    throw std::runtime_error("command failed (" + std::to_string(r.ExitCode) + "): " + line + "\n" +
                             Tail(r.Output));
  return r.Stdout;
}

}  // namespace qninet::harness
