// The feed scanner (RSS 0.9x/2.0, RDF, Atom-like markup) on arbitrary bytes. Plain UTF-8 read as
// bytes gives the channels its decoded text gives, and decoding the references keeps every
// channel and item and never lengthens a field.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "FuzzCheck.h"
#include "qninet/sys/TextDecoding.h"
#include "qninet/web/QNIRSS.h"

using namespace qninet;

namespace {

// Every field of every channel and item, with a marker for each item so the shape counts too.
std::vector<String> fields(const TQNIRSSChannels& channels) {
  std::vector<String> out;
  for (int c = 0; c < channels.Count(); ++c) {
    const TQNIRSSChannel& ch = *channels.GetItem(c);
    out.insert(out.end(), {u"<channel>", ch.Title, ch.Link, ch.Description, ch.Language, ch.Copyright,
                           ch.Rating, ch.ManagingEditor, ch.WebMaster, ch.PubDate, ch.LastBuildDate,
                           ch.Category, ch.Generator, ch.Docs, ch.Ttl});
    for (int i = 0; i < ch.Items()->Count(); ++i) {
      const TQNIRSSItem& it = *ch.Items()->GetItem(i);
      out.insert(out.end(), {u"<item>", it.Title, it.Link, it.Description, it.Creator, it.Date});
    }
  }
  return out;
}

bool plain_utf8(std::string_view bytes) {
  std::size_t mark = 0;
  return sys::bom_charset(bytes, mark).empty() && bytes.find("<?xml") == std::string_view::npos &&
         sys::valid_utf8(bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes = fuzz::bytes_of(data, size);
  TQNIRSSChannels raw, decoded;
  ParseRSSBytes(bytes, raw, false);
  ParseRSSBytes(bytes, decoded, true);
  const std::vector<String> rawFields = fields(raw), decodedFields = fields(decoded);
  FUZZ_CHECK(rawFields.size() == decodedFields.size());
  for (std::size_t i = 0; i < rawFields.size(); ++i)
    FUZZ_CHECK(decodedFields[i].size() <= rawFields[i].size());
  if (plain_utf8(bytes)) {
    TQNIRSSChannels text;
    ParseRSSText(FromUtf8(bytes), text, false);
    FUZZ_CHECK(fields(text) == rawFields);
  }
  return 0;
}
