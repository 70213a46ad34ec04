// Peak resident memory of one parse, as a multiple of the input size:
//   xml_peak_memory PARSER DOCUMENT [MiB]   (PARSER: qninet, pugixml, libxml2, expat)
// Each run is its own process, so the peaks do not mix.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <expat.h>
#include <libxml/parser.h>
#include <pugixml.hpp>

#include "process_memory.h"
#include "qninet/xml/QNInetXML.h"
#include "xml_documents.h"

namespace {}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s qninet|pugixml|libxml2|expat feed|xmark|text|markup [MiB]\n", argv[0]);
    return 2;
  }
  const std::string parser = argv[1];
  const std::size_t size = (argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 20) << 20;
  qninet::TStringStream stream{std::string_view(xml_bench::document_named(argv[2], size))};
  const double input = static_cast<double>(stream.Size());
  qninet::bench::reset_peak();
  const long before = qninet::bench::status_kib("VmRSS:");  // the input is resident already
  if (parser == "qninet") {
    qninet::TQNXMLEngine engine(nullptr);
    engine.LoadFromStream(0, &stream);
  } else if (parser == "pugixml") {
    pugi::xml_document d;
    d.load_buffer(stream.Memory(), stream.Bytes().size());
  } else if (parser == "libxml2") {
    xmlFreeDoc(xmlReadMemory(stream.Bytes().data(), static_cast<int>(stream.Size()), "m.xml", nullptr, 0));
  } else if (parser == "expat") {
    XML_Parser p = XML_ParserCreate(nullptr);
    XML_Parse(p, stream.Bytes().data(), static_cast<int>(stream.Size()), 1);
    XML_ParserFree(p);
  } else {
    return 2;
  }
  const double extra = static_cast<double>(qninet::bench::status_kib("VmHWM:") - before) * 1024.0;
  std::printf("%s %s input %.1f MiB: peak beyond the input %.1f MiB = %.2f x input\n", parser.c_str(),
              argv[2], input / 1048576.0, extra / 1048576.0, extra / input);
  return 0;
}
