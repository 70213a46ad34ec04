#pragma once
// Scripted loopback servers shared by the qninet demo and the test harness. This module is
// outside the library: it talks to POSIX sockets directly and links nothing of QNInet.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qninet::loopback {

/// What the server does on one connection: steps run in order. After the last step the
/// server half-closes, records what the client still sends (briefly) and closes.
class Script {
public:
  enum class StepKind : std::uint8_t {
    Send,
    SendChunks,
    SendRepeated,
    ExpectBytes,
    ReadUntil,
    Sleep,
    Close,
    Reset,
    HoldOpen,
    ReadUntilClose,
    Reply
  };
  /// Whether the bytes received so far make a whole request.
  using Complete = std::function<bool(const std::string& received)>;
  /// The answer to a whole request.
  using Answer = std::function<std::string(const std::string& request)>;
  struct Step {
    StepKind Kind;
    std::string Bytes;      ///< bytes to send, or the delimiter to read up to
    std::size_t Count = 0;  ///< byte count to read, or the chunk size
    std::chrono::milliseconds Delay{0};
    Complete IsComplete{};
    Answer AnswerFor{};
  };

  /// Sends bytes at once.
  Script& Send(std::string bytes);
  /// Sends bytes in pieces of chunkSize, waiting delay before each piece after the first.
  Script& SendChunks(std::string bytes, std::size_t chunkSize, std::chrono::milliseconds delay);
  /// Sends `count` copies of `byte` in 64 KiB pieces without holding them all, so a test can
  /// send an answer far larger than it wants to keep, waiting `pause` between pieces; ends
  /// early when the client goes.
  Script& SendRepeated(char byte, std::size_t count, std::chrono::milliseconds pause = {});
  /// Reads exactly n bytes from the client.
  Script& ExpectBytes(std::size_t n);
  /// Reads from the client up to and including delimiter.
  Script& ReadUntil(std::string delimiter);
  /// ReadUntil("\r\n").
  Script& ReadLine() { return ReadUntil("\r\n"); }
  /// Waits, reading nothing.
  Script& Sleep(std::chrono::milliseconds delay);
  /// Closes the connection (orderly: FIN); later steps are not run.
  Script& Close();
  /// Aborts the connection (RST, via SO_LINGER 0); later steps are not run.
  Script& Reset();
  /// Keeps the connection open, recording what arrives, until the server stops.
  Script& HoldOpen();
  /// Reads and records until the client closes its side.
  Script& ReadUntilClose();
  /// Reads until `complete` holds for the unread bytes (at once when it is empty), then sends
  /// `answer` of them; the answer is made on the connection's thread.
  Script& Reply(Complete complete, Answer answer);
  /// For each reply: reads one CRLF-terminated line, then sends the reply.
  Script& ReplyToLines(const std::vector<std::string>& replies);
  /// A line dialogue (SMTP-like): sends greeting, then answers each received line with the
  /// next reply. A reply holding several lines is sent as one piece.
  static Script LineDialogue(std::string greeting, const std::vector<std::string>& replies);

  const std::vector<Step>& Steps() const { return FSteps; }

private:
  std::vector<Step> FSteps;
};

/// A loopback TCP server on a free port that plays one Script per accepted connection
/// (connection i plays script i; connections beyond the scripts are closed at once and noted
/// as problems). Each connection runs on its own thread; every wait is bounded by the step
/// time-out or the stop flag. Records the exact bytes received on each connection.
class ScriptedServer {
public:
  enum class Family : std::uint8_t { IPv4, IPv6 };

  /// Listens at once on 127.0.0.1 (or ::1) on a free port. A read step that waits longer
  /// than stepTimeout ends its connection's script with a problem noted. With `repeatLast`,
  /// connections beyond the scripts play the last one. Throws std::runtime_error when it
  /// cannot listen.
  explicit ScriptedServer(std::vector<Script> connections, Family family = Family::IPv4,
                          std::chrono::milliseconds stepTimeout = std::chrono::seconds(10),
                          bool repeatLast = false);
  explicit ScriptedServer(Script single, Family family = Family::IPv4)
      : ScriptedServer(std::vector<Script>{std::move(single)}, family) {}
  /// Stops the server.
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  std::uint16_t Port() const { return FPort; }
  /// "127.0.0.1" or "::1".
  std::string Host() const;
  /// "host:port", with brackets around an IPv6 host.
  std::string Authority() const;
  /// Connections accepted so far.
  std::size_t ConnectionCount() const;
  /// Waits up to timeout until n connections were accepted; whether they were.
  bool WaitForConnections(std::size_t n, std::chrono::milliseconds timeout);
  /// Waits up to timeout until connection conn (0-based) has settled: its script ended, or
  /// the client closed during HoldOpen. Whether it settled.
  bool WaitUntilSettled(std::size_t conn, std::chrono::milliseconds timeout);
  /// The exact bytes received on connection conn (0-based), after waiting up to settle for
  /// it to settle. Empty when that connection never came.
  std::string Received(std::size_t conn, std::chrono::milliseconds settle = std::chrono::seconds(5));
  /// Deviations seen: read time-outs, early closes, failed sends, unscripted connections.
  std::vector<std::string> Problems() const;
  /// Stops accepting, ends every connection and joins all threads. Idempotent.
  void Stop();

private:
  struct Connection;
  class Play;
  void accept_loop();
  void run_connection(Connection& c);
  void note_problem(std::string text);

  std::vector<Script> FScripts;
  Family FFamily;
  std::chrono::milliseconds FStepTimeout;
  bool FRepeatLast;
  int FListenFd = -1;
  std::uint16_t FPort = 0;
  std::atomic<bool> FStopping{false};
  mutable std::mutex FMutex;
  std::condition_variable FChanged;
  std::vector<std::unique_ptr<Connection>> FConnections;
  std::vector<std::string> FProblems;
  std::thread FAcceptThread;
  std::mutex FStopMutex;
  bool FStopped = false;
};

}  // namespace qninet::loopback
