// How the parsers of untrusted input scale with the shape of their input: each shape is read at
// n and at 5 n in a forked child, which reports its time and its peak memory above what it held
// before the read. A 5 x larger input may take at most 6 x the time and 6 x the memory; a row
// past either ratio is marked, and the program exits 1. The last column is the peak at 5 n over
// the input's size, against which the memory bound (8 x; an item-dense feed 4 x) reads.
//   scaling_bench [factor [text]]   (n multiplied by factor, 1 by default; only the inputs
//                                    whose name contains text)

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
#include "qninet/design/QNIReg.h"
#include "qninet/rtl/Collections.h"
#include "qninet/rtl/FormFile.h"
#include "qninet/rtl/Streams.h"
#include "qninet/socket/Framing.h"
#include "qninet/socket/MailTypes.h"
#include "qninet/socket/QNIDNS.h"
#include "qninet/socket/QNIHTTP.h"
#include "qninet/sys/FtpListing.h"
#include "qninet/web/QNIMSTranslator.h"
#include "qninet/web/QNIRSS.h"
#include "qninet/web/QNIUPS.h"
#include "qninet/web/qnidirect.h"
#include "qninet/web/qnixtract.h"
#include "qninet/xml/QNInetXML.h"

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
    ReadFormFromJSON(s, "bench.json", CreateQNInetComponent);
  } catch (const EReadError&) {  // the nested shape is refused at the bound, as it must be
  }
}

// n components of one small class, as `qninet save` writes them.
std::string flat_form(std::size_t n) {
  return std::string("[")
      .append(repeat(R"({"Class":"TQNIRSSParser","Properties":{"DecodeEntities":true}},)", n))
      .append(R"({"Class":"TQNIRSSParser","Properties":{}}])");
}

void read_xml(const std::string& s) {
  TQNXMLEngine engine;
  TStringStream stream{std::string_view(s)};
  engine.LoadFromStream(0, &stream);
}

void read_links(const std::string& s) {
  TStringList links;
  ExtractLinksFromBytes(s, ieHTTP, links);
}

// The session's loop: a line at a time into entries.
void read_listing(const std::string& s, bool mlsd) {
  std::vector<sys::FtpEntry> entries;
  for (std::size_t at = 0; at < s.size();) {
    const std::size_t end = std::min(s.find('\n', at), s.size());
    const std::string_view line = std::string_view(s).substr(at, end - at);
    sys::FtpEntry e;
    if (mlsd ? sys::parse_mlsd_line(line, e) : sys::parse_list_line(line, e, 2026, 1796601600))
      entries.push_back(std::move(e));
    at = end + 1;
  }
}

// A reply of `n` records after a header of that many answers (n <= 65535): each record's name
// is `name(i)`, its type `type` and its data `data`.
std::string dns_reply(std::size_t n, std::uint16_t type, const std::string& data,
                      const std::function<std::string(std::size_t, std::size_t)>& name) {
  const auto u16 = [](std::size_t v) {
    return std::string{static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)};
  };
  std::string s = u16(1) + u16(0x8180) + u16(0) + u16(n) + u16(0) + u16(0);
  for (std::size_t i = 0; i < n; ++i)
    s += name(i, s.size()) + u16(type) + u16(1) + u16(0) + u16(60) + u16(data.size()) + data;
  return s;
}

// As the resolver's users render a reply: each record's line written as it is decoded.
void read_dns(const std::string& s) {
  TQNIDNSReply reply;
  String error;
  std::size_t written = 0;
  if (!DNSDecodeReply(FromBytes(s), reply, error,
                      [&](int, TQNIDNSRecord& r) { written += ToUtf8(DNSRecordLine(r)).size(); }))
    std::abort();
}

// Kept whole, then each record's line rendered once, as a program that prints them does.
void read_dns_whole(const std::string& s) {
  TQNIDNSReply reply;
  String error;
  std::size_t written = 0;
  if (!DNSDecodeReply(FromBytes(s), reply, error)) std::abort();
  for (const TQNIDNSRecord& r : reply.Answers) written += ToUtf8(DNSRecordLine(r)).size();
}

// n A records of one name (the first spelled out, the rest a pointer to it).
std::string a_reply(std::size_t n) {
  return dns_reply(n, 1, "\x7f\0\0\x01", [](std::size_t i, std::size_t) {
    return i ? std::string("\xC0\x0C", 2)
             : std::string(
                   "\x01"
                   "a\0",
                   3);
  });
}

// n WKS records of one name (the first spelled out, the rest a pointer to it), each with a map of
// 512 ports: the rendering that grows most per byte read.
std::string wks_reply(std::size_t n) {
  static const std::string name(
      "\x01"
      "a\0",
      3);  // split: "\x01a" would read as one escape
  return dns_reply(n, 11, "\x7f\0\0\x01\x06" + std::string(64, '\xFF'),
                   [](std::size_t i, std::size_t) { return i ? std::string("\xC0\x0C", 2) : name; });
}

// The service answers' readers, as a run reads them.
void read_ups(const std::string& s) {
  TQNUPSTracker tracker(nullptr);
  if (!tracker.ReadAnswer(s, 200).empty()) std::abort();
}

void read_ups_rest(const std::string& s) {
  TQNUPSTracker tracker(nullptr);
  if (!tracker.ReadJsonAnswer(s, 200, "bench").empty()) std::abort();
}

void read_strings(const std::string& s) {
  TStringList values;
  String why;
  if (!TQNMSTranslator::ReadAnswer(s, u"ArrayOfstring", &values, why)) std::abort();
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
      {"feed: empty channels", 100000,
       [](std::size_t n) { return "<rss>" + repeat("<channel></channel>", n); }, read_feed},
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
      {"form file: flat list, within the component bound", 200, flat_form, read_form},
      {"form file: flat list, past the component bound", 5000, flat_form, read_form},
      {"form file: flat list, one kept", 5000, flat_form,
       [](const std::string& s) { ReadFormComponent(s, "bench.json", CreateQNInetComponent, String()); }},
      // The WHOIS client, whose server table each client once copied.
      {"form file: WHOIS clients", 200,
       [](std::size_t n) {
         return std::string("[")
             .append(repeat(R"({"Class":"TQNWhoIs","Properties":{"Domain":"example.de"}},)", n))
             .append(R"({"Class":"TQNWhoIs","Properties":{}}])");
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
      {"mail list: addresses", 20000,
       [](std::size_t n) { return numbered("\"A %1$zu\" <a%1$zu@x.org>, ", n); },
       [](const std::string& s) {
         TQNIEMailAddresses list(nullptr);
         list.SetEMailAddresses(FromUtf8(s));
       }},
      {"XML: flat elements", 100000,
       [](std::size_t n) { return "<r>" + repeat("<i a=\"1\">t</i>", n) + "</r>"; }, read_xml},
      {"XML: nested elements", 100000, [](std::size_t n) { return repeat("<e>", n) + repeat("</e>", n); },
       read_xml},
      {"XML: nested elements never closed", 100000, [](std::size_t n) { return repeat("<e>", n); }, read_xml},
      {"extractor: many links", 50000,
       [](std::size_t n) { return numbered("<a href=\"http://h/%zu\">x</a>\n", n); }, read_links},
      {"extractor: nested, one long link", 200000,
       [](std::size_t n) {
         return repeat("<div>", n) + "http://" + std::string(n, 'a') + repeat("</div>", n);
       },
       read_links},
      {"FTP listing: LIST lines", 50000,
       [](std::size_t n) { return numbered("-rw-r--r--   1 ftp ftp  1234 Dec  1 10:00 file%zu.txt\r\n", n); },
       [](const std::string& s) { read_listing(s, false); }},
      {"FTP listing: MLSD lines", 50000,
       [](std::size_t n) {
         return numbered("type=file;size=1234;modify=20261201100000; file%zu.txt\r\n", n);
       },
       [](const std::string& s) { read_listing(s, true); }},
      {"HTTP answer: header lines", 50000,
       [](std::size_t n) {
         return "HTTP/1.1 200 OK\r\n" + numbered("X-Header-%zu: value\r\n", n) + "\r\nbody";
       },
       [](const std::string& s) {
         String answer = FromBytes(s);
         TStringList headers;
         HTTPSplitAnswer(answer, headers, true);
       }},
      {"DNS reply: A records", 10000, a_reply, read_dns},
      {"DNS reply: chained pointers", 10000,
       [](std::size_t n) {
         // Names in the first 16 KiB point at the one before, up to 119 jumps; the later ones (out
         // of a pointer's reach) at the end of the last chain.
         return dns_reply(n, 1, "\x7f\0\0\x01",
                          [last = std::size_t(0)](std::size_t i, std::size_t at) mutable {
                            const std::string to_last{static_cast<char>(0xC0 | (last >> 8)),
                                                      static_cast<char>(last & 0xFF)};
                            if (at >= 0x3F00) return to_last;
                            last = at;
                            return i % 120 == 0 ? std::string(
                                                      "\x01"
                                                      "a\0",
                                                      3)
                                                : to_last;
                          });
       },
       read_dns},
      {"DNS reply: WKS records", 1000, wks_reply, read_dns},
      {"DNS reply: WKS records, kept whole", 1000, wks_reply, read_dns_whole},
      {"DNS reply: A records, kept whole", 10000, a_reply, read_dns_whole},
      {"UPS answer: activities", 20000,
       [](std::size_t n) {
         return "<TrackResponse><Response><ResponseStatusCode>1</ResponseStatusCode></Response><Shipment>"
                "<Package>" +
                repeat(
                    "<Activity><Status><StatusType><Code>I</Code><Description>IN TRANSIT</Description>"
                    "</StatusType></Status><Date>20261203</Date><Time>101500</Time></Activity>",
                    n) +
                "</Package></Shipment></TrackResponse>";
       },
       read_ups},
      {"translator answer: strings", 50000,
       [](std::size_t n) {
         return "<ArrayOfstring>" + numbered("<string>word %zu</string>", n) + "</ArrayOfstring>";
       },
       read_strings},
      {"UPS answer (REST): activities", 20000,
       [](std::size_t n) {
         const std::string scan =
             R"({"location":{"slic":"80I1","address":{"city":"BALTIMORE","countryCode":"US"}},)"
             R"("status":{"type":"I","description":"ARRIVAL SCAN","code":"AR"},"date":"20120516","time":"083000"})";
         std::string s =
             R"({"trackResponse":{"shipment":[{"inquiryNumber":"1Z","package":[{"activity":[)" + scan;
         return s.append(repeat("," + scan, n - 1)).append("]}]}]}}");
       },
       read_ups_rest},
      {"UPS answer: empty activities", 100000,
       [](std::size_t n) {
         return "<TrackResponse><Response><ResponseStatusCode>1</ResponseStatusCode></Response><Shipment>"
                "<Package>" +
                repeat("<Activity/>", n) + "</Package></Shipment></TrackResponse>";
       },
       read_ups},
      {"UPS answer (REST): empty activities", 100000,
       [](std::size_t n) {
         return R"({"trackResponse":{"shipment":[{"inquiryNumber":"1Z","package":[{"activity":[{})" +
                repeat(",{}", n - 1) + "]}]}]}}";
       },
       read_ups_rest},
      {"translator answer: empty strings", 100000,
       [](std::size_t n) { return "<ArrayOfstring>" + repeat("<string/>", n) + "</ArrayOfstring>"; },
       read_strings},
      {"translator answer (JSON): languages", 50000,
       [](std::size_t n) {
         return R"({"translation":{)" +
                numbered(R"("l%zu":{"name":"Language","nativeName":"Language","dir":"ltr"},)", n) +
                R"("zz":{}}})";
       },
       [](const std::string& s) {
         TStringList values;
         String why;
         if (!TQNMSTranslator::ReadJsonAnswer(s, "languages", "bench", &values, why)) std::abort();
       }},
  };
  return all;
}

struct Measure {
  double Seconds = 0;
  std::size_t InputBytes = 0;
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
    m.InputBytes = input.size();
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
  std::printf("| input | n | time at n | time at 5 n | x | growth at n | growth at 5 n | x | x input |\n");
  std::printf("| --- | --- | --- | --- | --- | --- | --- | --- | --- |\n");
  for (const Shape& shape : shapes()) {
    if (argc > 2 && !std::strstr(shape.Name, argv[2])) continue;
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
      std::printf("| %s | %zu | failed | | | | | | |\n", shape.Name, n);
      within = false;
      continue;
    }
    // Times under 10 ms and growth under 1 MiB are below what the ratio can tell.
    const double t = b.Seconds / std::max(a.Seconds, 0.01);
    const double m = static_cast<double>(b.GrowthKiB) / static_cast<double>(std::max(a.GrowthKiB, 1024L));
    const bool ok = t <= 6 && m <= 6;
    within = within && ok;
    // The peak at 5 n against the input's size: the memory bound (8 x) reads off this column.
    const double per_byte = static_cast<double>(b.GrowthKiB) * 1024 / static_cast<double>(b.InputBytes);
    std::printf("| %s | %zu | %.3f s | %.3f s | %.1f | %.1f MiB | %.1f MiB | %.1f | %.1f |%s\n", shape.Name,
                n, a.Seconds, b.Seconds, t, a.GrowthKiB / 1024.0, b.GrowthKiB / 1024.0, m, per_byte,
                ok ? "" : " **past 6 x**");
  }
  return within ? 0 : 1;
}
