// Sends one message with a 50 MiB attachment to a loopback SMTP sink and reports the sender's
// peak memory above its size before the send, against the attachment's size. The message is
// read and encoded block by block, so the peak should stay a small fraction of the file.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include "process_memory.h"
#include "qninet/socket/QNISMTP.h"

namespace {

constexpr std::size_t kAttachmentBytes = std::size_t{50} << 20;

void send_text(int fd, const std::string& text) {
  if (::send(fd, text.data(), text.size(), MSG_NOSIGNAL) < 0) std::perror("send");
}

/// Answers one SMTP dialogue: every command line with its reply, the message data discarded
/// (only its size counted) up to the final period line.
class SinkServer {
public:
  SinkServer() {
    FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(FListen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(FListen, 1) != 0 ||
        ::getsockname(FListen, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
      std::perror("listen");
      std::exit(1);
    }
    FPort = ntohs(a.sin_port);
    FThread = std::thread([this] { serve(); });
  }
  ~SinkServer() {
    FThread.join();
    ::close(FListen);
  }
  int Port() const { return FPort; }
  std::size_t DataBytes() const { return FDataBytes; }

private:
  void serve() {
    const int fd = ::accept(FListen, nullptr, nullptr);
    send_text(fd, "220 sink\r\n");
    std::string held;
    bool inData = false;
    char buffer[65536];
    for (;;) {
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      held.append(buffer, static_cast<std::size_t>(n));
      if (inData && held.size() >= 5) {
        const auto end = held.find("\r\n.\r\n");
        FDataBytes += end == std::string::npos ? held.size() - 4 : end;
        if (end == std::string::npos) {
          held.erase(0, held.size() - 4);  // the end mark may straddle two reads
          continue;
        }
        held.erase(0, end + 5);
        inData = false;
        send_text(fd, "250 queued\r\n");
      }
      for (auto nl = held.find("\r\n"); !inData && nl != std::string::npos; nl = held.find("\r\n")) {
        const std::string line = held.substr(0, nl);
        held.erase(0, nl + 2);
        if (line == "DATA") {
          inData = true;
          send_text(fd, "354 go\r\n");
          held.insert(0, "\r\n");  // so a message of no lines still meets the end mark
        } else if (line == "QUIT") {
          send_text(fd, "221 bye\r\n");
        } else {
          send_text(fd, "250 ok\r\n");
        }
      }
    }
    ::close(fd);
  }

  int FListen = -1;
  int FPort = 0;
  std::size_t FDataBytes = 0;
  std::thread FThread;
};

}  // namespace

int main() {
  using namespace qninet;
  const auto file =
      std::filesystem::temp_directory_path() / ("qninet-bench-" + std::to_string(::getpid()) + ".bin");
  {
    std::ofstream out(file, std::ios::binary);
    std::string block(1 << 20, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 + i / 977);
    for (std::size_t written = 0; written < kAttachmentBytes; written += block.size()) out << block;
  }
  long before = 0, peak = 0;
  String result;
  std::size_t dataBytes = 0;
  {
    SinkServer server;
    TQNISMTP smtp(nullptr);
    smtp.SetHost(u"127.0.0.1");
    smtp.SetPort(server.Port());
    smtp.SetTimeout(60000);
    smtp.From()->SetAddress(u"bench@qninet.test");
    smtp.Recipients()->SetEMailAddresses(u"sink@qninet.test");
    smtp.Body()->SetText(u"A large attachment follows.");
    smtp.Attachments()->Add()->SetFileName(FromUtf8(file.string()));
    bench::reset_peak();
    before = bench::status_kib("VmRSS:");
    result = smtp.Execute();
    peak = bench::status_kib("VmHWM:");
    dataBytes = server.DataBytes();
  }
  std::filesystem::remove(file);
  if (!result.empty()) {
    std::cerr << "send failed: " << ToUtf8(result) << "\n";
    return 1;
  }
  const double fileMiB = static_cast<double>(kAttachmentBytes) / (1 << 20);
  const double extraMiB = static_cast<double>(peak - before) / 1024;
  std::printf("attachment %.0f MiB, message data %.1f MiB on the wire\n", fileMiB,
              static_cast<double>(dataBytes) / (1 << 20));
  std::printf("peak memory above the start of the send: %.1f MiB (%.1f%% of the attachment)\n", extraMiB,
              100 * extraMiB / fileMiB);
  return 0;
}
