#include "harness/Process.h"

#include "harness/TempDir.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
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
  const char* path = std::getenv("PATH");
  std::stringstream in((path ? path : "") + std::string(":/usr/sbin:/sbin:/usr/bin:/bin"));
  for (std::string dir; std::getline(in, dir, ':');)
    if (!dir.empty() && is_executable(dir + "/" + name)) return dir + "/" + name;
  return {};
}

Process::Process(std::vector<std::string> argv, std::filesystem::path logDir) : FArgv(std::move(argv)) {
  const std::string program = FArgv.empty() ? std::string() : FindProgram(FArgv[0]);
  if (program.empty()) throw std::runtime_error("Process: program not found: " + CommandLine());
  if (logDir.empty()) {
    FOwnLogDir = std::make_unique<TempDir>("qninet-process");
    logDir = FOwnLogDir->Path();
  }
  const std::string stem = std::filesystem::path(FArgv[0]).filename().string() + "-" +
                           std::to_string(::getpid()) + "-" + std::to_string(g_sequence++);
  FOut = logDir / (stem + ".stdout");
  FErr = logDir / (stem + ".stderr");
  std::vector<char*> args;
  for (auto& s : FArgv) args.push_back(s.data());
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, FOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, FErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  // Own process group, so Stop reaches the server's workers too; default signal handling
  // and an empty mask, whatever the test runner set.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int sig : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGCHLD, SIGQUIT, SIGUSR1, SIGUSR2})
    sigaddset(&defaults, sig);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  const int rc = ::posix_spawn(&FPid, program.c_str(), &actions, &attr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) throw std::runtime_error("Process: cannot start " + CommandLine() + ": " + std::strerror(rc));
}

Process::~Process() { Stop(); }

void Process::reap(bool wait) {
  int status = 0;
  if (::waitpid(FPid, &status, wait ? 0 : WNOHANG) == FPid)
    FExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? -WTERMSIG(status) : -1;
  FReaped = true;  // or stuck in the kernel, or already gone: do not wait for ever
}

bool Process::Running() {
  if (FPid <= 0 || FReaped) return false;
  siginfo_t info{};
  // WNOWAIT keeps the leader a zombie, so its group id cannot be reused before Stop.
  if (::waitid(P_PID, static_cast<id_t>(FPid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return false;
  return info.si_pid == 0;
}

bool Process::Ended(std::chrono::steady_clock::duration limit) {
  for (const auto until = std::chrono::steady_clock::now() + limit;
       Running() && std::chrono::steady_clock::now() < until;)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return !Running();
}

std::optional<int> Process::WaitExit(std::chrono::milliseconds timeout) {
  if (!Ended(timeout)) return std::nullopt;
  if (!FReaped && FPid > 0) {
    reap(true);
    ::kill(-FPid, SIGKILL);  // leftovers of the group, if any
  }
  return FExitCode;
}

void Process::Stop(std::chrono::milliseconds grace) {
  if (FPid <= 0 || FReaped) return;
  if (Running()) {
    ::kill(-FPid, SIGTERM);
    ::kill(FPid, SIGTERM);
    Ended(grace);
  }
  // Whatever remains of the group (workers, or the leader after the grace) is killed.
  ::kill(-FPid, SIGKILL);
  Ended(std::chrono::seconds(10));
  reap(false);
}

std::string Process::StdoutText() const { return ReadFileText(FOut); }

std::string Process::Log() const { return "[stdout]\n" + StdoutText() + "\n[stderr]\n" + ReadFileText(FErr); }

std::string Process::LogTail(std::size_t maxBytes) const { return Tail(Log(), maxBytes); }

std::string Process::CommandLine() const {
  std::string out;
  for (const auto& a : FArgv) out += (out.empty() ? "" : " ") + a;
  return out;
}

RunResult RunToCompletion(std::vector<std::string> argv, std::chrono::milliseconds timeout) {
  Process p(std::move(argv));
  const auto status = p.WaitExit(timeout);
  if (!status) p.Stop(std::chrono::milliseconds(200));
  return {status.value_or(-1000), p.StdoutText(), p.Log()};
}

std::string RunOrThrow(std::vector<std::string> argv, std::chrono::milliseconds timeout) {
  RunResult r = RunToCompletion(argv, timeout);
  if (r.ExitCode != 0)
    throw std::runtime_error("command failed (" + std::to_string(r.ExitCode) + "): " + argv[0] + "\n" +
                             Tail(r.Output));
  return r.Stdout;
}

}  // namespace qninet::harness
