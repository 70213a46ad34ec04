// Reading a 256 MiB answer from a loopback server: the socket engine's Execute (16386-byte
// reads, the answer kept as UTF-16) side by side with a raw receive loop on the same server.
// Prints both throughputs, their ratio, and the peak memory of one Execute in a fresh process
// against the answer's size. Goals: ratio >= 0.5, peak <= 3 x the answer's bytes.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "qninet/socket/QNInBase.h"
#include "process_memory.h"

namespace {

constexpr std::size_t kAnswerBytes = std::size_t{256} << 20;
constexpr std::size_t kReadSize = 16386;

/// Answers every connection with kAnswerBytes after the query's empty line, then closes.
class BulkServer {
public:
  BulkServer() : FPattern(1u << 20) {
    for (std::size_t i = 0; i < FPattern.size(); ++i) FPattern[i] = static_cast<char>('a' + i % 26);
    FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(FListen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(FListen, 8) != 0 ||
        ::getsockname(FListen, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
      std::perror("listen");
      std::exit(1);
    }
    FPort = ntohs(a.sin_port);
    FThread = std::thread([this] { serve(); });
  }
  ~BulkServer() {
    FStop = true;
    FThread.join();
    ::close(FListen);
  }
  int Port() const { return FPort; }

private:
  void serve() {
    while (!FStop) {
      pollfd p{FListen, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      const int fd = ::accept(FListen, nullptr, nullptr);
      if (fd < 0) continue;
      std::string got;
      char buf[256];
      while (got.find("\r\n\r\n") == std::string::npos) {
        pollfd q{fd, POLLIN, 0};
        if (::poll(&q, 1, 5000) <= 0) break;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        got.append(buf, static_cast<std::size_t>(n));
      }
      for (std::size_t sent = 0; sent < kAnswerBytes;) {
        const ssize_t n =
            ::send(fd, FPattern.data(), std::min(FPattern.size(), kAnswerBytes - sent), MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
      }
      ::close(fd);
    }
  }
  std::vector<char> FPattern;
  int FListen = -1;
  int FPort = 0;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

BulkServer* g_server = nullptr;

class TBulkClient : public qninet::TQNInetBase {
public:
  TBulkClient() : TQNInetBase(nullptr) {
    SetAddress(u"127.0.0.1");
    SetPort(g_server->Port());
  }
  qninet::String GetQuery() override { return u"bulk\r\n"; }
};

void BM_Execute(benchmark::State& state) {
  for (auto _ : state) {
    TBulkClient c;
    const qninet::String answer = c.Execute();
    if (answer.size() != kAnswerBytes) state.SkipWithError("short answer");
    benchmark::DoNotOptimize(answer.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kAnswerBytes));
}

void BM_RawReceiveLoop(benchmark::State& state) {
  std::vector<char> buffer(kReadSize);
  for (auto _ : state) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(g_server->Port()));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) state.SkipWithError("connect");
    const char query[] = "bulk\r\nProxy-Connection: Keep-Alive\r\n\r\n";
    ::send(fd, query, sizeof query - 1, MSG_NOSIGNAL);
    std::size_t total = 0;
    for (ssize_t n; (n = ::recv(fd, buffer.data(), buffer.size(), 0)) > 0;)
      total += static_cast<std::size_t>(n);
    ::close(fd);
    if (total != kAnswerBytes) state.SkipWithError("short answer");
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kAnswerBytes));
}

/// The same loop keeping the answer as the engine does (one UTF-16 unit per byte, appended
/// to one growing string): what holding a 512 MiB text costs on this machine.
void BM_RawReceiveKeepingUtf16(benchmark::State& state) {
  std::vector<char> buffer(kReadSize);
  std::vector<char16_t> wide(kReadSize);
  for (auto _ : state) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(g_server->Port()));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) state.SkipWithError("connect");
    const char query[] = "bulk\r\nProxy-Connection: Keep-Alive\r\n\r\n";
    ::send(fd, query, sizeof query - 1, MSG_NOSIGNAL);
    std::u16string text;
    for (ssize_t n; (n = ::recv(fd, buffer.data(), buffer.size(), 0)) > 0;) {
      for (ssize_t i = 0; i < n; ++i)
        wide[static_cast<std::size_t>(i)] = static_cast<unsigned char>(buffer[static_cast<std::size_t>(i)]);
      text.insert(text.end(), wide.begin(), wide.begin() + n);
    }
    ::close(fd);
    if (text.size() != kAnswerBytes) state.SkipWithError("short answer");
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kAnswerBytes));
}

BENCHMARK(BM_RawReceiveLoop)->Unit(benchmark::kMillisecond)->Iterations(6)->UseRealTime();
BENCHMARK(BM_RawReceiveKeepingUtf16)->Unit(benchmark::kMillisecond)->Iterations(6)->UseRealTime();
BENCHMARK(BM_Execute)->Unit(benchmark::kMillisecond)->Iterations(6)->UseRealTime();

/// Keeps the real time per iteration of each benchmark while printing as usual.
class RatioReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& r : runs)
      if (r.run_type == Run::RT_Iteration && !r.error_occurred)
        Times[r.benchmark_name()] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> Times;  // ms per iteration
};

/// Peak resident memory that one Execute adds, measured in a fresh child process (KiB).
long peak_of_one_execute() {
  int fds[2];
  if (::pipe(fds) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    const long before = qninet::bench::status_kib("VmRSS:");
    long peak = -1;
    {
      TBulkClient c;
      const qninet::String answer = c.Execute();
      peak = qninet::bench::status_kib("VmHWM:");
      if (answer.size() != kAnswerBytes) peak = -1;
    }
    const long delta = peak < 0 ? -1 : peak - before;
    [[maybe_unused]] const ssize_t w = ::write(fds[1], &delta, sizeof delta);
    ::_exit(0);
  }
  ::close(fds[1]);
  long delta = -1;
  if (::read(fds[0], &delta, sizeof delta) != sizeof delta) delta = -1;
  ::close(fds[0]);
  ::waitpid(pid, nullptr, 0);
  return delta;
}

}  // namespace

int main(int argc, char** argv) {
  BulkServer server;
  g_server = &server;
  const long peakKib = peak_of_one_execute();
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  const double mib = static_cast<double>(kAnswerBytes) / (1 << 20);
  const auto raw = reporter.Times.find("BM_RawReceiveLoop/iterations:6/real_time");
  const auto exe = reporter.Times.find("BM_Execute/iterations:6/real_time");
  const auto keep = reporter.Times.find("BM_RawReceiveKeepingUtf16/iterations:6/real_time");
  std::printf("\nanswer: %.0f MiB\n", mib);
  if (raw != reporter.Times.end() && exe != reporter.Times.end()) {
    const double rawRate = mib / (raw->second / 1000.0);
    const double exeRate = mib / (exe->second / 1000.0);
    std::printf(
        "raw receive loop: %.0f MiB/s\nExecute:          %.0f MiB/s\nratio Execute/raw: %.2f (goal >= "
        "0.50)\n",
        rawRate, exeRate, exeRate / rawRate);
    if (keep != reporter.Times.end()) {
      const double keepRate = mib / (keep->second / 1000.0);
      std::printf("raw loop keeping UTF-16: %.0f MiB/s\nratio Execute/raw keeping UTF-16: %.2f\n", keepRate,
                  exeRate / keepRate);
    }
  }
  if (peakKib >= 0) {
    const double peakBytes = static_cast<double>(peakKib) * 1024.0;
    std::printf("peak memory of one Execute: %.0f MiB = %.2f x the answer's bytes (goal <= 3.00)\n",
                peakBytes / (1 << 20), peakBytes / static_cast<double>(kAnswerBytes));
  } else {
    std::printf("peak memory: not measured\n");
  }
  return 0;
}
