#include "loopback/ScriptedServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace qninet::loopback {

Script& Script::Send(std::string bytes) {
  FSteps.push_back({StepKind::Send, std::move(bytes), 0, {}});
  return *this;
}
Script& Script::SendChunks(std::string bytes, std::size_t chunkSize, std::chrono::milliseconds delay) {
  FSteps.push_back({StepKind::SendChunks, std::move(bytes), chunkSize == 0 ? 1 : chunkSize, delay});
  return *this;
}
Script& Script::SendRepeated(char byte, std::size_t count, std::chrono::milliseconds pause) {
  FSteps.push_back({StepKind::SendRepeated, std::string(1, byte), count, pause});
  return *this;
}
Script& Script::ExpectBytes(std::size_t n) {
  FSteps.push_back({StepKind::ExpectBytes, {}, n, {}});
  return *this;
}
Script& Script::ReadUntil(std::string delimiter) {
  FSteps.push_back({StepKind::ReadUntil, std::move(delimiter), 0, {}});
  return *this;
}
Script& Script::Sleep(std::chrono::milliseconds delay) {
  FSteps.push_back({StepKind::Sleep, {}, 0, delay});
  return *this;
}
Script& Script::Close() {
  FSteps.push_back({StepKind::Close, {}, 0, {}});
  return *this;
}
Script& Script::Reset() {
  FSteps.push_back({StepKind::Reset, {}, 0, {}});
  return *this;
}
Script& Script::HoldOpen() {
  FSteps.push_back({StepKind::HoldOpen, {}, 0, {}});
  return *this;
}
Script& Script::ReadUntilClose() {
  FSteps.push_back({StepKind::ReadUntilClose, {}, 0, {}});
  return *this;
}
Script& Script::Reply(Complete complete, Answer answer) {
  FSteps.push_back({StepKind::Reply, {}, 0, {}, std::move(complete), std::move(answer)});
  return *this;
}
Script& Script::ReplyToLines(const std::vector<std::string>& replies) {
  for (const auto& reply : replies) ReadLine().Send(reply);
  return *this;
}
Script Script::LineDialogue(std::string greeting, const std::vector<std::string>& replies) {
  Script s;
  s.Send(std::move(greeting));
  s.ReplyToLines(replies);
  return s;
}

struct ScriptedServer::Connection {
  std::size_t Index = 0;
  int Fd = -1;
  std::thread Thread;
  std::string Record;   // every byte received, guarded by the server mutex
  std::string Pending;  // received but not yet consumed by a read step (connection thread only)
  bool Settled = false;
};

namespace {

enum class ReadResult { Data, Closed, TimedOut, Stopped, Failed };

void set_nonblocking(int fd) {
  // Only poll decides when to read; nonblocking keeps a spurious wake-up from blocking.
  int flags = ::fcntl(fd, F_GETFL, 0);
  ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

}  // namespace

ScriptedServer::ScriptedServer(std::vector<Script> connections, Family family,
                               std::chrono::milliseconds stepTimeout, bool repeatLast)
    : FScripts(std::move(connections)), FFamily(family), FStepTimeout(stepTimeout), FRepeatLast(repeatLast) {
  const int af = family == Family::IPv6 ? AF_INET6 : AF_INET;
  FListenFd = ::socket(af, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (FListenFd < 0) throw std::runtime_error("ScriptedServer: socket failed");
  int one = 1;
  ::setsockopt(FListenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  int rc;
  if (af == AF_INET6) {
    ::setsockopt(FListenFd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    rc = ::bind(FListenFd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  } else {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    rc = ::bind(FListenFd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  if (rc != 0 || ::listen(FListenFd, 16) != 0) {
    std::string why = std::strerror(errno);
    ::close(FListenFd);
    throw std::runtime_error("ScriptedServer: cannot listen on " + Host() + ": " + why);
  }
  sockaddr_storage a{};
  socklen_t len = sizeof a;
  ::getsockname(FListenFd, reinterpret_cast<sockaddr*>(&a), &len);
  FPort = ntohs(af == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&a)->sin6_port
                               : reinterpret_cast<sockaddr_in*>(&a)->sin_port);
  set_nonblocking(FListenFd);
  FAcceptThread = std::thread([this] { accept_loop(); });
}

ScriptedServer::~ScriptedServer() { Stop(); }

std::string ScriptedServer::Host() const { return FFamily == Family::IPv6 ? "::1" : "127.0.0.1"; }

std::string ScriptedServer::Authority() const {
  return (FFamily == Family::IPv6 ? "[::1]" : "127.0.0.1") + std::string(":") + std::to_string(FPort);
}

std::size_t ScriptedServer::ConnectionCount() const {
  std::lock_guard lock(FMutex);
  return FConnections.size();
}

bool ScriptedServer::WaitForConnections(std::size_t n, std::chrono::milliseconds timeout) {
  std::unique_lock lock(FMutex);
  return FChanged.wait_for(lock, timeout, [&] { return FConnections.size() >= n; });
}

bool ScriptedServer::WaitUntilSettled(std::size_t conn, std::chrono::milliseconds timeout) {
  std::unique_lock lock(FMutex);
  return FChanged.wait_for(lock, timeout,
                           [&] { return conn < FConnections.size() && FConnections[conn]->Settled; });
}

std::string ScriptedServer::Received(std::size_t conn, std::chrono::milliseconds settle) {
  WaitUntilSettled(conn, settle);
  std::lock_guard lock(FMutex);
  return conn < FConnections.size() ? FConnections[conn]->Record : std::string();
}

std::vector<std::string> ScriptedServer::Problems() const {
  std::lock_guard lock(FMutex);
  return FProblems;
}

void ScriptedServer::note_problem(std::string text) {
  std::lock_guard lock(FMutex);
  FProblems.push_back(std::move(text));
}

void ScriptedServer::Stop() {
  std::lock_guard stopLock(FStopMutex);
  if (FStopped) return;
  FStopped = true;
  FStopping = true;
  if (FAcceptThread.joinable()) FAcceptThread.join();
  // The accept thread is gone, so the list no longer grows.
  for (auto& c : FConnections)
    if (c->Thread.joinable()) c->Thread.join();
  if (FListenFd >= 0) ::close(FListenFd);
  FListenFd = -1;
}

void ScriptedServer::accept_loop() {
  while (!FStopping) {
    pollfd p{FListenFd, POLLIN, 0};
    if (::poll(&p, 1, 50) != 1) continue;
    int fd = ::accept4(FListenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) continue;
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::lock_guard lock(FMutex);
    auto c = std::make_unique<Connection>();
    c->Index = FConnections.size();
    c->Fd = fd;
    Connection& ref = *c;
    FConnections.push_back(std::move(c));
    ref.Thread = std::thread([this, &ref] { run_connection(ref); });
    FChanged.notify_all();
  }
}

// One connection's play of its script, on the connection's own thread.
class ScriptedServer::Play {
public:
  Play(ScriptedServer& server, Connection& c)
      : S(server), C(c), Who("connection " + std::to_string(c.Index)) {}

  void run(const Script& script) {
    const auto& steps = script.Steps();
    for (std::size_t i = 0; i < steps.size() && !Closed && !S.FStopping; ++i) {
      Where = Who + " step " + std::to_string(i);
      Deadline = std::chrono::steady_clock::now() + S.FStepTimeout;
      step(steps[i]);
    }
    finish();
  }

private:
  void step(const Script::Step& step) {
    using Kind = Script::StepKind;
    switch (step.Kind) {
      case Kind::Send:
        return send(step.Bytes, "send");
      case Kind::SendChunks:
        for (std::size_t at = 0; at < step.Bytes.size() && !Closed && !S.FStopping; at += step.Count) {
          if (at > 0) sleep_for(step.Delay);
          send(std::string_view(step.Bytes).substr(at, step.Count), "send chunk");
        }
        return;
      case Kind::SendRepeated: {
        const std::string piece(64 * 1024, step.Bytes[0]);
        for (std::size_t left = step.Count; left > 0 && !S.FStopping;) {
          const std::size_t n = std::min(left, piece.size());
          if (left < step.Count) sleep_for(step.Delay);
          // A client that gives up on an endless answer ends it, as it should: no problem.
          if (!send_all(std::string_view(piece).substr(0, n))) return void(Closed = true);
          left -= n;
        }
        return;
      }
      case Kind::ExpectBytes:
        if (read_until([&] { return C.Pending.size() >= step.Count; },
                       "expect " + std::to_string(step.Count) + " bytes"))
          C.Pending.erase(0, step.Count);
        return;
      case Kind::ReadUntil:
        if (read_until([&] { return C.Pending.find(step.Bytes) != std::string::npos; },
                       "read until delimiter"))
          C.Pending.erase(0, C.Pending.find(step.Bytes) + step.Bytes.size());
        return;
      case Kind::Sleep:
        return sleep_for(step.Delay);
      case Kind::Reset:
        Reset = true;
        [[fallthrough]];
      case Kind::Close:
        Closed = true;
        return;
      case Kind::HoldOpen:
        return hold_open();
      case Kind::Reply:
        if (read_until([&] { return !step.IsComplete || step.IsComplete(C.Pending); }, "read a request"))
          send(step.AnswerFor(C.Pending), "send reply");
        C.Pending.clear();
        return;
      case Kind::ReadUntilClose:
        for (ReadResult r; (r = read_some(Deadline, false)) != ReadResult::Closed;)
          if (r != ReadResult::Data) return fail(r, "read until close");
        C.Pending.clear();
        return;
    }
  }

  // Waits for bytes until the deadline (no deadline when `forever`), recording them.
  ReadResult read_some(std::chrono::steady_clock::time_point deadline, bool forever) {
    for (;;) {
      if (S.FStopping) return ReadResult::Stopped;
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (!forever && left.count() <= 0) return ReadResult::TimedOut;
      pollfd p{C.Fd, POLLIN, 0};
      const int rc = ::poll(&p, 1, forever ? 50 : static_cast<int>(std::min<long long>(50, left.count())));
      if (rc == 0 || (rc < 0 && errno == EINTR)) continue;
      if (rc < 0) return ReadResult::Failed;
      char chunk[16384];
      const ssize_t n = ::recv(C.Fd, chunk, sizeof chunk, 0);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (n < 0) return ReadResult::Failed;
      if (n == 0) {
        PeerClosed = true;
        return ReadResult::Closed;
      }
      C.Pending.append(chunk, static_cast<std::size_t>(n));
      std::lock_guard lock(S.FMutex);
      C.Record.append(chunk, static_cast<std::size_t>(n));
      return ReadResult::Data;
    }
  }

  // Reads until `enough` holds; false, with the problem noted, when the step ended first.
  bool read_until(const std::function<bool()>& enough, const std::string& what) {
    while (!enough())
      if (const ReadResult r = read_some(Deadline, false); r != ReadResult::Data) return fail(r, what), false;
    return true;
  }

  void fail(ReadResult r, const std::string& what) {
    if (r == ReadResult::Stopped) return;
    S.note_problem(Where + " (" + what + "): " +
                   (r == ReadResult::Closed     ? "client closed first"
                    : r == ReadResult::TimedOut ? "timed out"
                                                : "read failed") +
                   "; unread: " + C.Pending);
    Closed = true;
  }

  bool send_all(std::string_view bytes) {
    const auto deadline = std::chrono::steady_clock::now() + S.FStepTimeout;
    while (!bytes.empty()) {
      if (S.FStopping) return false;
      const ssize_t n = ::send(C.Fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n >= 0) {
        bytes.remove_prefix(static_cast<std::size_t>(n));
        continue;
      }
      if ((errno != EAGAIN && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) return false;
      pollfd p{C.Fd, POLLOUT, 0};
      ::poll(&p, 1, 50);
    }
    return true;
  }

  void send(std::string_view bytes, const char* what) {
    if (Closed || send_all(bytes)) return;
    S.note_problem(Where + " (" + what + "): failed");
    Closed = true;
  }

  void sleep_for(std::chrono::milliseconds d) {
    const auto until = std::chrono::steady_clock::now() + d;
    while (!S.FStopping && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(
          std::chrono::milliseconds(20),
          std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()) +
              std::chrono::milliseconds(1)));
  }

  void settle() {
    std::lock_guard lock(S.FMutex);
    C.Settled = true;
    S.FChanged.notify_all();
  }

  void hold_open() {
    while (!S.FStopping) {
      if (PeerClosed) {
        settle();
        sleep_for(std::chrono::milliseconds(50));
      } else if (read_some({}, true) == ReadResult::Failed) {
        PeerClosed = true;  // reset by the client
      }
    }
  }

  void finish() {
    if (Reset) {
      linger l{1, 0};
      ::setsockopt(C.Fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    } else if (!PeerClosed) {
      // Half-close and take in what the client still sends: closing with unread bytes would
      // answer with RST, which can destroy the client's copy of the last reply.
      ::shutdown(C.Fd, SHUT_WR);
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
      while (read_some(deadline, false) == ReadResult::Data) {
      }
    }
    ::close(C.Fd);
    C.Fd = -1;
    settle();
  }

  ScriptedServer& S;
  Connection& C;
  const std::string Who;
  std::string Where;
  std::chrono::steady_clock::time_point Deadline;
  bool PeerClosed = false, Reset = false, Closed = false;
};

void ScriptedServer::run_connection(Connection& c) {
  static const Script kEmpty;
  const Script* script = &kEmpty;
  if (c.Index < FScripts.size())
    script = &FScripts[c.Index];
  else if (FRepeatLast && !FScripts.empty())
    script = &FScripts.back();
  else
    note_problem("connection " + std::to_string(c.Index) + " was not scripted");
  Play(*this, c).run(*script);
}

}  // namespace qninet::loopback
