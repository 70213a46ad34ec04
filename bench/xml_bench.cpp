// XML parsing from memory: the engine (building its tree) against pugixml (its tree),
// libxml2 (xmlReadMemory, building and freeing its tree) and expat (empty handlers).

#include <benchmark/benchmark.h>
#include <expat.h>
#include <libxml/parser.h>

#include <map>
#include <utility>
#include <pugixml.hpp>

#include "qninet/xml/QNInetXML.h"
#include "xml_documents.h"

namespace {

constexpr std::size_t kSize = 20u << 20;

const std::string& document(const std::string& name) {
  static std::map<std::string, std::string> docs;
  auto it = docs.find(name);
  if (it == docs.end()) it = docs.emplace(name, xml_bench::document_named(name, kSize)).first;
  return it->second;
}

void QNInetXML(benchmark::State& state, const std::string& name) {
  const std::string& doc = document(name);
  qninet::TStringStream stream{std::string_view(doc)};
  for (auto _ : state) {
    qninet::TQNXMLEngine engine(nullptr);
    stream.SetPosition(0);
    engine.LoadFromStream(0, &stream);
    benchmark::DoNotOptimize(engine.RootItem()->Items()->Count());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

void Pugixml(benchmark::State& state, const std::string& name) {
  const std::string& doc = document(name);
  for (auto _ : state) {
    pugi::xml_document d;
    const auto r = d.load_buffer(doc.data(), doc.size());
    if (!r) state.SkipWithError(r.description());
    benchmark::DoNotOptimize(d.first_child());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

void LibXml2(benchmark::State& state, const std::string& name) {
  const std::string& doc = document(name);
  for (auto _ : state) {
    xmlDocPtr d =
        xmlReadMemory(doc.data(), static_cast<int>(doc.size()), "bench.xml", nullptr, XML_PARSE_NONET);
    if (!d) state.SkipWithError("libxml2 refused the document");
    benchmark::DoNotOptimize(d);
    xmlFreeDoc(d);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

void XMLCALL on_start(void*, const XML_Char*, const XML_Char**) {}
void XMLCALL on_end(void*, const XML_Char*) {}
void XMLCALL on_text(void*, const XML_Char*, int) {}

void Expat(benchmark::State& state, const std::string& name) {
  const std::string& doc = document(name);
  for (auto _ : state) {
    XML_Parser p = XML_ParserCreate(nullptr);
    XML_SetElementHandler(p, on_start, on_end);
    XML_SetCharacterDataHandler(p, on_text);
    if (XML_Parse(p, doc.data(), static_cast<int>(doc.size()), 1) != XML_STATUS_OK)
      state.SkipWithError("expat refused the document");
    XML_ParserFree(p);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

// Every parser gets a warm-up: the first load of a process pays for fresh pages (on a virtual
// machine many times the parse itself), which would otherwise decide the iteration count.
const int registered = [] {
  for (const char* name : {"feed", "xmark", "text", "markup"}) {
    const std::string n = name;
    for (auto [parser, fn] : {std::pair{"QNInetXML/", &QNInetXML}, std::pair{"pugixml/", &Pugixml},
                              std::pair{"libxml2/", &LibXml2}, std::pair{"expat/", &Expat}})
      benchmark::RegisterBenchmark((parser + n).c_str(), fn, n)
          ->Unit(benchmark::kMillisecond)
          ->MinWarmUpTime(1.0)
          ->MinTime(2.0);
  }
  return 0;
}();

}  // namespace

BENCHMARK_MAIN();
