// How the parsers of untrusted input scale with the shape of their input: each shape is read at
// n and at 5 n in a forked child, which reports its time and its peak memory above what it held
// before the read. A 5 x larger input may take at most 6 x the time and 6 x the memory; a row
// past either ratio is marked, and the program exits 1.
//   scaling_bench [factor]   (n multiplied by factor, 1 by default)

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "process_memory.h"
#include "qninet/rtl/Collections.h"
#include "qninet/rtl/FormFile.h"
#include "qninet/socket/Framing.h"
#include "qninet/socket/MailTypes.h"
#include "qninet/web/QNIRSS.h"
#include "qninet/design/QNIReg.h"
#include "qninet/web/qnidirect.h"

using namespace qninet;

namespace {

std::string repeat(const std::string& piece, std::size_t n) {
  std::string s;
  s.reserve(piece.size() * n);
  for (std::size_t i = 0; i < n; ++i) s += piece;
  return s;
}

std::string numbered(const char* format, std::size_t n) {
  std::string s;
  char line[128];
  for (std::size_t i = 0; i < n; ++i) s.append(line, std::snprintf(line, sizeof line, format, i));
  return s;
}

void read_feed(const std::string& s) {
  TQNIRSSChannels channels;
  ParseRSSBytes(s, channels, true);
}

void read_form(const std::string& s) {
  try {
    ReadFormFromJSON(s, "bench.json", [](const std::string& name) -> TComponent* {
      const TComponentClassRef* ref = FindQNInetClass(name);
      return ref ? ref->Create(nullptr) : nullptr;
    });
  } catch (const EReadError&) {  // the nested shape is refused at the bound, as it must be
  }
}

struct Shape {
  const char* Name;
  std::size_t N;
  std::function<std::string(std::size_t)> Make;
  std::function<void(const std::string&)> Read;
};

const std::vector<Shape>& shapes() {
  static const std::vector<Shape> all = {
      {"feed: flat items", 100000,
       [](std::size_t n) {
         return "<rss><channel>" + repeat("<item><title>t</title><link>l</link></item>", n);
       },
       read_feed},
      {"feed: nested elements", 200000,
       [](std::size_t n) {
         return "<rss><channel>" + repeat("<x>", n) + repeat("</x>", n) + "<item><title>t</title></item>";
       },
       read_feed},
      {"feed: one long tag name", 1000000,
       [](std::size_t n) {
         return "<rss><channel><" + std::string(n, 'y') + ">" +
                repeat("<item><title>t</title></item>", n / 50);
       },
       read_feed},
      {"news file: sections", 100000, [](std::size_t n) { return numbered("[s%zu]\nk=v\n", n); },
       [](const std::string& s) { ParseNewsFile(s); }},
      {"news file: second run", 100000,
       [](std::size_t n) { return "[S]\n" + numbered("http://h/%zu=v\n", n); },
       [](const std::string& s) {
         const auto previous = ParseNewsFile(s), current = ParseNewsFile(s);
         const TQNINewsSeen seen(&previous);
         std::size_t fresh = 0;
         for (const auto& section : current)
           for (const auto& e : section.Entries) fresh += seen.IsNew(section.Name, e.Key);
         if (fresh) std::abort();
       }},
      {"form file: flat list", 5000,
       [](std::size_t n) {
         return "[" + repeat(R"({"Class":"TQNIRSSParser","Properties":{"DecodeEntities":true}},)", n) +
                R"({"Class":"TQNIRSSParser","Properties":{}}])";
       },
       read_form},
      {"form file: nested", 200000,
       [](std::size_t n) {
         return R"({"Class":"TQNIRSSParser","Properties":{"Name":)" + std::string(n, '[') +
                std::string(n, ']') + "}}";
       },
       read_form},
      {"SMTP reply: trickled lines", 20000,
       [](std::size_t n) { return repeat("220-x\r\n", n) + "220 ok\r\n"; },
       [](const std::string& s) {
         std::size_t at = 0;
         TSmtpReplyFrame rule;
         const TSocketReader read = [&](void* b, Integer) {  // one line per read
           const std::size_t k = std::min<std::size_t>(7, s.size() - at);
           std::memcpy(b, s.data() + at, k);
           at += k;
           return static_cast<Integer>(k);
         };
         if (receive_framed(read, rule) != reComplete) std::abort();
       }},
      {"mail name: nested quotes", 200000, [](std::size_t n) { return std::string(n, '"') + " <a@x.org>"; },
       [](const std::string& s) {
         TQNIEMailAddress a;
         a.SetText(FromUtf8(s));
       }},
      {"mail list: addresses", 20000, [](std::size_t n) { return numbered("\"A %zu\" <a%zu@x.org>, ", n); },
       [](const std::string& s) {
         TQNIEMailAddresses list(nullptr);
         list.SetEMailAddresses(FromUtf8(s));
       }},
  };
  return all;
}

struct Measure {
  double Seconds = 0;
  long GrowthKiB = 0;
};

// Builds the input, then reads it, in a child: the parent's heap does not blur the peak.
Measure measure(const Shape& shape, std::size_t n) {
  int pipe_fd[2];
  if (::pipe(pipe_fd) != 0) std::exit(2);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipe_fd[0]);
    const std::string input = shape.Make(n);
    bench::reset_peak();
    const long start = bench::status_kib("VmRSS:");
    const auto t0 = std::chrono::steady_clock::now();
    shape.Read(input);
    Measure m;
    m.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    m.GrowthKiB = bench::status_kib("VmHWM:") - start;
    if (::write(pipe_fd[1], &m, sizeof m) != sizeof m) ::_exit(2);
    ::_exit(0);
  }
  ::close(pipe_fd[1]);
  Measure m;
  const bool got = ::read(pipe_fd[0], &m, sizeof m) == sizeof m;
  ::close(pipe_fd[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!got) m.Seconds = -1;
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  const double factor = argc > 1 ? std::atof(argv[1]) : 1;
  bool within = true;
  std::printf("| input | n | time at n | time at 5 n | x | growth at n | growth at 5 n | x |\n");
  std::printf("| --- | --- | --- | --- | --- | --- | --- | --- |\n");
  for (const Shape& shape : shapes()) {
    const auto n = static_cast<std::size_t>(static_cast<double>(shape.N) * factor);
    // The fastest of three runs: the time a busy machine adds is noise, not the parser's.
    const auto best = [&](std::size_t size) {
      Measure m = measure(shape, size);
      for (int k = 0; k < 2; ++k) {
        const Measure again = measure(shape, size);
        if (again.Seconds >= 0 && (m.Seconds < 0 || again.Seconds < m.Seconds)) m.Seconds = again.Seconds;
      }
      return m;
    };
    const Measure a = best(n), b = best(5 * n);
    if (a.Seconds < 0 || b.Seconds < 0) {
      std::printf("| %s | %zu | failed | | | | | |\n", shape.Name, n);
      within = false;
      continue;
    }
    // Times under 10 ms and growth under 1 MiB are below what the ratio can tell.
    const double t = b.Seconds / std::max(a.Seconds, 0.01);
    const double m = static_cast<double>(b.GrowthKiB) / static_cast<double>(std::max(a.GrowthKiB, 1024L));
    const bool ok = t <= 6 && m <= 6;
    within = within && ok;
    std::printf("| %s | %zu | %.3f s | %.3f s | %.1f | %.1f MiB | %.1f MiB | %.1f |%s\n", shape.Name, n,
                a.Seconds, b.Seconds, t, a.GrowthKiB / 1024.0, b.GrowthKiB / 1024.0, m,
                ok ? "" : " **past 6 x**");
  }
  return within ? 0 : 1;
}
