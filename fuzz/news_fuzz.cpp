// The news file reader on arbitrary bytes: sections are named once (ignoring case), keys are
// trimmed and never empty, and the set that tells new entries agrees with the entry-by-entry
// rule: read against itself, only entries without a value are new.

#include <cstddef>
#include <cstdint>

#include "FuzzCheck.h"
#include "qninet/web/qnidirect.h"

using namespace qninet;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto sections = ParseNewsFile(fuzz::bytes_of(data, size));
  const TQNINewsSeen seen(&sections), none(nullptr);
  for (std::size_t i = 0; i < sections.size(); ++i) {
    const TQNINewsSection& s = sections[i];
    if (i > 0) FUZZ_CHECK(!SameText(sections[i - 1].Name, s.Name));
    for (const TQNINewsEntry& e : s.Entries) {
      FUZZ_CHECK(!e.Key.empty() && Trim(e.Key) == e.Key);
      FUZZ_CHECK(none.IsNew(s.Name, e.Key));
      // Small files only: the rule asked entry by entry walks the whole copy each time.
      const bool isNew = seen.IsNew(s.Name, e.Key);
      if (size < 8192) FUZZ_CHECK(isNew == NewsEntryIsNew(&sections, s.Name, e.Key));
      if (!e.Value.empty()) FUZZ_CHECK(!isNew);
    }
  }
  return 0;
}
