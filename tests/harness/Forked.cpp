#include "harness/Forked.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <exception>

namespace qninet::harness {
namespace {

constexpr rlim_t kSpaceLimit = rlim_t{4} << 30;

long own_peak_kib() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

// What the child reports ahead of the case's text.
struct Report {
  bool Success;
  double Seconds;
  long StartKiB;
};

[[noreturn]] void run_child(int fd, const std::function<CaseResult()>& body, unsigned cpuSeconds) {
  // A case that runs away must not take the machine or the test with it.
  if constexpr (!kSanitized) {
    const rlimit space{kSpaceLimit, kSpaceLimit};
    ::setrlimit(RLIMIT_AS, &space);
  }
  ::alarm(60);
  if (cpuSeconds > 0) {
    const rlimit cpu{cpuSeconds, cpuSeconds};
    ::setrlimit(RLIMIT_CPU, &cpu);
  }
  const long startKiB = own_peak_kib();
  const auto start = std::chrono::steady_clock::now();
  CaseResult r;
  try {
    r = body();
  } catch (const std::exception& e) {
    r = {false, std::string("exception: ") + e.what()};
  } catch (...) {
    r = {false, "exception of an unknown type"};
  }
  const Report report{
      r.Success, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), startKiB};
  std::string bytes(reinterpret_cast<const char*>(&report), sizeof report);
  bytes += r.Text;
  for (std::size_t at = 0; at < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + at, bytes.size() - at);
    if (n <= 0 && errno != EINTR) break;
    if (n > 0) at += static_cast<std::size_t>(n);
  }
  ::_exit(0);
}

}  // namespace

ForkedOutcome RunForked(const std::function<CaseResult()>& body, unsigned cpuSeconds) {
  ForkedOutcome outcome;
  int fds[2];
  if (::pipe(fds) != 0) return {.Text = "pipe failed"};
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    run_child(fds[1], body, cpuSeconds);
  }
  ::close(fds[1]);
  std::string text;
  char chunk[4096];
  for (ssize_t n; pid > 0 && ((n = ::read(fds[0], chunk, sizeof chunk)) > 0 || (n < 0 && errno == EINTR));)
    if (n > 0) text.append(chunk, static_cast<std::size_t>(n));
  ::close(fds[0]);
  if (pid < 0) return {.Text = "fork failed"};
  int status = 0;
  rusage usage{};
  while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || text.size() < sizeof(Report)) {
    outcome.Text = WIFSIGNALED(status) ? "the child died of signal " + std::to_string(WTERMSIG(status))
                                       : "the child did not report";
    return outcome;
  }
  Report report;
  text.copy(reinterpret_cast<char*>(&report), sizeof report);
  outcome.Ran = true;
  outcome.Success = report.Success;
  outcome.Seconds = report.Seconds;
  outcome.GrowthKiB = usage.ru_maxrss - report.StartKiB;
  outcome.Text = text.substr(sizeof report);
  return outcome;
}

}  // namespace qninet::harness
