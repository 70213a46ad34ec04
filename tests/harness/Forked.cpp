#include "harness/Forked.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <exception>
#include <sstream>

namespace qninet::harness {

namespace {

constexpr rlim_t kSpaceLimit = rlim_t{4} << 30;
constexpr unsigned kAlarmSeconds = 60;

long own_peak_kib() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

[[noreturn]] void report_and_exit(int fd, const CaseResult& r, double seconds, long startKiB) {
  std::ostringstream out;
  out << (r.Success ? 1 : 0) << ' ' << seconds << ' ' << startKiB << ' ' << r.Text;
  const std::string text = out.str();
  std::size_t at = 0;
  while (at < text.size()) {
    ssize_t n = ::write(fd, text.data() + at, text.size() - at);
    if (n <= 0 && errno != EINTR) break;
    if (n > 0) at += static_cast<std::size_t>(n);
  }
  ::_exit(0);
}

}  // namespace

ForkedOutcome RunForked(const std::function<CaseResult()>& body, unsigned cpuSeconds) {
  ForkedOutcome outcome;
  int fds[2];
  if (::pipe(fds) != 0) {
    outcome.Text = "pipe failed";
    return outcome;
  }
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    outcome.Text = "fork failed";
    return outcome;
  }
  if (pid == 0) {
    ::close(fds[0]);
    // A case that runs away must not take the machine or the test with it.
    if constexpr (!kSanitized) {
      const rlimit space{kSpaceLimit, kSpaceLimit};
      ::setrlimit(RLIMIT_AS, &space);
    }
    ::alarm(kAlarmSeconds);
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
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    report_and_exit(fds[1], r, seconds, startKiB);
  }
  ::close(fds[1]);
  std::string text;
  char chunk[4096];
  for (;;) {
    ssize_t n = ::read(fds[0], chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  int status = 0;
  rusage usage{};
  while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  outcome.PeakKiB = usage.ru_maxrss;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || text.empty()) {
    outcome.Text = WIFSIGNALED(status) ? "the child died of signal " + std::to_string(WTERMSIG(status))
                                       : "the child did not report";
    return outcome;
  }
  std::istringstream in(text);
  int success = 0;
  long startKiB = 0;
  in >> success >> outcome.Seconds >> startKiB;
  in.get();
  std::getline(in, outcome.Text, '\0');
  outcome.Ran = true;
  outcome.Success = success != 0;
  outcome.GrowthKiB = outcome.PeakKiB - startKiB;
  return outcome;
}

}  // namespace qninet::harness
