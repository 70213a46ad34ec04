// The news browser's file: sections of "key=value" lines read into a `TQNINewsFile`, and the
// look-up of the entries that a previous copy already held.

#include <algorithm>

#include "qninet/sys/CodePage.h"
#include "qninet/sys/Files.h"
#include "qninet/sys/TextDecoding.h"
#include "qninet/web/WebContent.h"
#include "qninet/web/qnidirect.h"

namespace qninet {

namespace {

StringView unquoted(StringView v) {
  if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

const TQNINewsSection* find_section(const TQNINewsFile& sections, StringView name) {
  const auto it = std::find_if(sections.begin(), sections.end(),
                               [&](const TQNINewsSection& s) { return SameText(s.Name, name); });
  return it == sections.end() ? nullptr : &*it;
}

std::uint32_t entry_hash(const String& upperSection, const String& upperKey) {
  return static_cast<std::uint32_t>(std::hash<String>{}(upperSection)*31 + std::hash<String>{}(upperKey));
}

}  // namespace

TQNINewsSeen::TQNINewsSeen(const TQNINewsFile* Previous) : FPrevious(Previous) {
  if (!Previous) return;
  std::size_t count = 0, all = 0;
  FFirsts.reserve(Previous->size());
  for (const TQNINewsSection& s : *Previous) {
    FFirsts.push_back(static_cast<std::uint32_t>(all));
    all += s.Entries.size();
    for (const TQNINewsEntry& e : s.Entries) count += !e.Value.empty();
  }
  std::size_t size = 16;
  while (3 * size < 4 * count) size *= 2;
  FSlots.resize(size);
  std::uint32_t place = 0;
  for (const TQNINewsSection& s : *Previous) {
    const String section = UpperCase(s.Name);
    for (const TQNINewsEntry& e : s.Entries) {
      ++place;
      if (e.Value.empty()) continue;
      const std::uint32_t hash = entry_hash(section, UpperCase(e.Key));
      std::size_t i = hash & (size - 1);
      while (FSlots[i].Entry != 0) i = (i + 1) & (size - 1);
      FSlots[i] = {hash, place};
    }
  }
}

bool TQNINewsSeen::IsNew(StringView Section, StringView Key) const {
  if (!FPrevious) return true;
  const String section = UpperCase(Section), key = UpperCase(Key);
  const std::uint32_t hash = entry_hash(section, key);
  for (std::size_t i = hash & (FSlots.size() - 1); FSlots[i].Entry != 0; i = (i + 1) & (FSlots.size() - 1)) {
    const Slot& slot = FSlots[i];
    if (slot.Hash != hash) continue;
    // The last section starting at or before the entry holds it (an empty one starts there too).
    const std::uint32_t place = slot.Entry - 1;
    const std::size_t si = std::upper_bound(FFirsts.begin(), FFirsts.end(), place) - FFirsts.begin() - 1;
    const TQNINewsSection& s = (*FPrevious)[si];
    if (UpperCase(s.Entries[place - FFirsts[si]].Key) == key && UpperCase(s.Name) == section) return false;
  }
  return true;
}

bool NewsEntryIsNew(const TQNINewsFile* Previous, StringView Section, StringView Key) {
  if (!Previous) return true;
  const TQNINewsSection* s = find_section(*Previous, Section);
  if (!s) return true;
  return std::none_of(s->Entries.begin(), s->Entries.end(),
                      [&](const TQNINewsEntry& e) { return SameText(e.Key, Key) && !e.Value.empty(); });
}

TQNINewsFile ReadNewsFile(const String& FileName) {
  if (!sys::file_exists(ToUtf8(FileName))) return {};
  return TQNINewsFile::Parse(ReadLocalBytes(FileName));
}

TQNINewsFile ParseNewsFile(std::string_view Bytes) { return TQNINewsFile::Parse(Bytes); }

namespace {

std::size_t line_end(std::u16string_view text, std::size_t at) { return text.find_first_of(u"\r\n", at); }
std::size_t line_end(std::string_view text, std::size_t at) { return text.find_first_of("\r\n", at); }

template <class Text, class Line>
void split_lines(Text text, Line line) {
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = line_end(text, start);
    if (end == Text::npos) end = text.size();
    line(text.substr(start, end - start));
    start = end + 1;
  }
}

// What a text can hold at most, counted on its raw lines before anything is kept, so the file
// is built in lists reserved to size: a list that doubles as it grows copies itself and holds
// up to twice what it needs. A section or entry line shows its "[" or "=" in any ASCII-based
// charset, so the counts are never short.
struct Counts {
  std::size_t Sections = 0, Entries = 0, Units = 0;
};
template <class Text>
Counts count_lines(Text text) {
  Counts c;
  c.Units = text.size();
  split_lines(text, [&](Text line) {
    std::size_t at = 0;
    while (at < line.size() && static_cast<std::make_unsigned_t<typename Text::value_type>>(line[at]) <= ' ')
      ++at;
    if (at < line.size() && line[at] == '[')
      ++c.Sections;
    else if (line.find('=') != Text::npos)
      ++c.Entries;
  });
  return c;
}

// The sections' indexes by upper-cased name, open-addressed: a slot holds a section's index + 1
// (0: free), so a section costs a few bytes here instead of a copy of its name. Each section's
// hash is kept beside, so a probe reads a name only when the hashes agree and growing reads
// none; the table, sized for the sections the lines can hold, stays at most half full.
class SectionIndex {
public:
  explicit SectionIndex(std::size_t expected) {
    FHashes.reserve(expected);
    Resize(expected);
  }

  // The index of the section named `upper` (upper-cased), or `added` when it is new.
  std::size_t Find(const std::vector<TQNINewsSection>& sections, const String& upper, std::size_t added) {
    if (2 * (FHashes.size() + 1) > FSlots.size()) Resize(FHashes.size() + 1);
    const auto hash = static_cast<std::uint32_t>(std::hash<String>{}(upper));
    for (std::size_t i = hash & (FSlots.size() - 1);; i = (i + 1) & (FSlots.size() - 1)) {
      const std::uint32_t slot = FSlots[i];
      if (slot == 0) {
        FSlots[i] = static_cast<std::uint32_t>(added + 1);
        FHashes.push_back(hash);
        return added;
      }
      if (FHashes[slot - 1] == hash && UpperCase(sections[slot - 1].Name) == upper) return slot - 1;
    }
  }

private:
  void Resize(std::size_t count) {
    std::size_t size = 16;
    while (size < 2 * count) size *= 2;
    FSlots.assign(size, 0);
    for (std::size_t s = 0; s < FHashes.size(); ++s) {
      std::size_t i = FHashes[s] & (size - 1);
      while (FSlots[i] != 0) i = (i + 1) & (size - 1);
      FSlots[i] = static_cast<std::uint32_t>(s + 1);
    }
  }
  std::vector<std::uint32_t> FSlots;
  std::vector<std::uint32_t> FHashes;  // each section's, by its index
};

}  // namespace

void TQNINewsFile::Reserve(std::size_t units) {
  if (units == 0) return;
  FTexts.push_back(std::make_unique_for_overwrite<char16_t[]>(units));
  FNext = FTexts.back().get();
  FFree = units;
}

TQNINewsText TQNINewsFile::Keep(StringView text) {
  if (text.empty()) return {};
  const std::size_t need = text.size() + 2;
  if (need > FFree) Reserve(std::max<std::size_t>(need, 4096));
  const auto length = static_cast<std::uint32_t>(text.size());
  std::memcpy(FNext, &length, sizeof length);
  std::copy(text.begin(), text.end(), FNext + 2);
  const TQNINewsText kept(FNext + 2);
  FNext += need;
  FFree -= need;
  return kept;
}

// Reads trimmed lines into a file: the sections in the order they are first named, the entries
// side by side in file order; `Finish` then gathers each section's entries into one run.
class TQNINewsFile::Builder {
public:
  Builder(TQNINewsFile& file, const Counts& c) : F(file), FByName(c.Sections) {
    F.FSections.reserve(c.Sections);
    F.FEntries.reserve(c.Entries);
    FRuns.reserve(c.Sections);
    F.Reserve(c.Units + 2 * (c.Sections + 2 * c.Entries));  // each text's length before it
  }

  void Line(StringView line) {
    if (line.empty() || line[0] == u';') return;
    if (line[0] == u'[') {
      const std::size_t close = line.find(u']');
      const String name = Trim(line.substr(1, close == StringView::npos ? StringView::npos : close - 1));
      // A section named again continues the first one.
      const std::size_t at = FByName.Find(F.FSections, UpperCase(name), F.FSections.size());
      if (at == F.FSections.size()) F.FSections.push_back({F.Keep(name), {}});
      FRuns.emplace_back(static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(F.FEntries.size()));
      return;
    }
    const std::size_t eq = line.find(u'=');
    if (FRuns.empty() || eq == StringView::npos) return;
    const String key = Trim(line.substr(0, eq));
    if (key.empty()) return;
    const String value = Trim(line.substr(eq + 1));
    F.FEntries.push_back({F.Keep(key), F.Keep(unquoted(value))});
  }

  void Finish() {
    std::vector<TQNINewsEntry>& entries = F.FEntries;
    const auto run_end = [&](std::size_t r) {
      return r + 1 < FRuns.size() ? FRuns[r + 1].second : entries.size();
    };
    if (FRuns.size() == F.FSections.size()) {  // each section named once: its entries are one run
      for (std::size_t r = 0; r < FRuns.size(); ++r)
        F.FSections[r].Entries = {entries.data() + FRuns[r].second, run_end(r) - FRuns[r].second};
      return;
    }
    std::vector<std::size_t> first(F.FSections.size() + 1, 0);
    for (std::size_t r = 0; r < FRuns.size(); ++r) first[FRuns[r].first + 1] += run_end(r) - FRuns[r].second;
    for (std::size_t s = 1; s < first.size(); ++s) first[s] += first[s - 1];
    std::vector<TQNINewsEntry> gathered(entries.size());
    std::vector<std::size_t> next(first.begin(), first.end() - 1);
    for (std::size_t r = 0; r < FRuns.size(); ++r)
      for (std::size_t i = FRuns[r].second; i < run_end(r); ++i)
        gathered[next[FRuns[r].first]++] = entries[i];
    entries.swap(gathered);
    for (std::size_t s = 0; s < F.FSections.size(); ++s)
      F.FSections[s].Entries = {entries.data() + first[s], first[s + 1] - first[s]};
  }

private:
  TQNINewsFile& F;
  SectionIndex FByName;
  std::vector<std::pair<std::uint32_t, std::uint32_t>>
      FRuns;  // per section line: its section, the entries before it
};

TQNINewsFile TQNINewsFile::Parse(std::string_view Bytes) {
  TQNINewsFile file;
  std::size_t mark = 0;
  std::string charset(sys::bom_charset(Bytes, mark));
  if (charset.rfind("UTF-16", 0) == 0) {
    const String text = sys::decode_page_text(Bytes);
    Builder build(file, count_lines(StringView(text)));
    split_lines(StringView(text), [&](StringView line) { build.Line(Trim(line)); });
    build.Finish();
    return file;
  }
  // Any other charset is ASCII-based: decoded a line at a time, so the file's whole text is
  // never held beside what is read from it.
  Bytes.remove_prefix(mark);
  if (charset.empty()) charset = sys::valid_utf8(Bytes) ? "UTF-8" : sys::ansi_code_page();
  Builder build(file, count_lines(Bytes));
  split_lines(Bytes, [&](std::string_view line) { build.Line(Trim(sys::decode_bytes(line, charset))); });
  build.Finish();
  return file;
}

}  // namespace qninet
