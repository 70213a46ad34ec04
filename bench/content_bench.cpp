// The feed scanner and the link extractor on generated 5, 10 and 50 MiB inputs: the bytes
// decoded and scanned as the components do after a download.
//   content_bench [benchmark options]
//   content_bench --peak rss|extract MiB   (peak resident memory of one file parse, as a
//                                           multiple of the file size)

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "process_memory.h"
#include "qninet/rtl/Strings.h"
#include "qninet/web/QNIRSS.h"
#include "qninet/web/WebContent.h"
#include "qninet/web/qnixtract.h"

namespace {

// An RSS 2.0 feed of about `size` bytes: items with CDATA descriptions and non-ASCII titles.
std::string make_feed(std::size_t size) {
  std::string s =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\">\n<channel>\n"
      "<title>Bench</title>\n<link>http://b.test/</link>\n";
  for (int i = 0; s.size() < size; ++i) {
    const std::string n = std::to_string(i);
    s += "<item>\n<title>Caf\xC3\xA9 story " + n + "</title>\n<link>http://b.test/" + n +
         "</link>\n<description><![CDATA[<p>Body of story " + n +
         " with some words &amp; more</p>]]></description>\n<dc:creator>Ann</dc:creator>\n</item>\n";
  }
  return s + "</channel>\n</rss>\n";
}

// A page of about `size` bytes with a mail link and a web link every few lines.
std::string make_page(std::size_t size) {
  std::string s = "<html><body>\n";
  for (int i = 0; s.size() < size; ++i) {
    const std::string n = std::to_string(i);
    s += "<p>Paragraph " + n +
         " of plain text that holds no address at all, only words.</p>\n"
         "<a href=\"mailto:user" +
         n + "@example.test\">mail</a> <a href=\"http://example.test/" + n + "\">page</a>\n";
  }
  return s + "</body></html>\n";
}

void BM_ParseRSS(benchmark::State& state) {
  const std::string feed = make_feed(static_cast<std::size_t>(state.range(0)) << 20);
  qninet::TQNIRSSChannels channels;
  for (auto _ : state) {
    qninet::ParseRSSBytes(feed, channels);
    benchmark::DoNotOptimize(channels.Count());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * feed.size()));
}
BENCHMARK(BM_ParseRSS)->Arg(5)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond);

void BM_ExtractLinks(benchmark::State& state) {
  const std::string page = make_page(static_cast<std::size_t>(state.range(0)) << 20);
  for (auto _ : state) {
    qninet::TStringList links;
    qninet::ExtractLinksFromBytes(page, qninet::ieMailTo, links);
    benchmark::DoNotOptimize(links.Count());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_ExtractLinks)->Arg(5)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond);

// Parses a file as the components do (read, decode, scan) and prints the peak growth.
int peak(const std::string& what, std::size_t mib) {
  const std::string path = "/tmp/qninet-content-bench." + what;
  { std::ofstream(path, std::ios::binary) << (what == "rss" ? make_feed(mib << 20) : make_page(mib << 20)); }
  const double size = static_cast<double>(std::ifstream(path, std::ios::ate | std::ios::binary).tellg());
  qninet::bench::reset_peak();
  const long before = qninet::bench::status_kib("VmRSS:");
  if (what == "rss") {
    qninet::TQNIRSSChannels channels;
    qninet::ParseRSSBytes(qninet::ReadLocalBytes(qninet::FromUtf8(path)), channels);
  } else {
    qninet::TStringList links;
    qninet::ExtractLinksFromBytes(qninet::ReadLocalBytes(qninet::FromUtf8(path)), qninet::ieMailTo, links);
  }
  const long grown = qninet::bench::status_kib("VmHWM:") - before;
  std::remove(path.c_str());
  std::printf("%s %zu MiB: peak %.1f MiB, %.2f x the file\n", what.c_str(), mib, grown / 1024.0,
              grown * 1024.0 / size);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--peak") return peak(argv[2], std::strtoul(argv[3], nullptr, 10));
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
