#include "qninet/rtl/Strings.h"

#include <algorithm>

#include "qninet/rtl/Streams.h"

namespace qninet {

QNINET_CLASS_INFO(TStrings)
QNINET_CLASS_INFO(TStringList)

namespace {

char16_t fold(char16_t c) { return (c >= u'a' && c <= u'z') ? c - 32 : c; }

int compare_text(StringView a, StringView b, bool caseSensitive) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t x = caseSensitive ? a[i] : fold(a[i]);
    const char16_t y = caseSensitive ? b[i] : fold(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool valid_utf8(std::string_view s) {
  const String decoded = FromUtf8(s);
  return decoded.find(u'\xFFFD') == String::npos || s.find("\xEF\xBF\xBD") != std::string_view::npos;
}

}  // namespace

void TStrings::InsertObject(int index, const String& value, std::unique_ptr<TObject> object) {
  Insert(index, value);
  SetObject(index, std::move(object));
}

int TStrings::Add(const String& value) {
  const int index = Count();
  Insert(index, value);
  return index;
}

int TStrings::AddObject(const String& value, std::unique_ptr<TObject> object) {
  const int index = Add(value);
  SetObject(index, std::move(object));
  return index;
}

void TStrings::AddStrings(const TStrings& other) {
  BeginUpdate();
  for (int i = 0; i < other.Count(); ++i) Add(other.Strings(i));
  EndUpdate();
}

String TStrings::Text() const {
  String out;
  for (int i = 0; i < Count(); ++i) out.append(Strings(i)).append(FLineBreak);
  return out;
}

void TStrings::SetText(StringView text) {
  BeginUpdate();
  Clear();
  std::size_t start = 0;
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (text[i] == u'\r' || text[i] == u'\n') {
      Add(String(text.substr(start, i - start)));
      if (text[i] == u'\r' && i + 1 < n && text[i + 1] == u'\n') ++i;
      start = i + 1;
    }
  }
  if (start < n) Add(String(text.substr(start)));
  EndUpdate();
}

String TStrings::Names(int index) const {
  const String s = Strings(index);
  const auto p = s.find(u'=');
  return p == String::npos ? String() : s.substr(0, p);
}

String TStrings::ValueFromIndex(int index) const {
  const String s = Strings(index);
  const auto p = s.find(u'=');
  return p == String::npos ? String() : s.substr(p + 1);
}

String TStrings::Values(StringView name) const {
  const int i = IndexOfName(name);
  return i < 0 ? String() : ValueFromIndex(i);
}

void TStrings::SetValues(StringView name, const String& value) {
  const int i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0) Delete(i);
    return;
  }
  const String line = String(name) + u"=" + value;
  if (i >= 0)
    SetStrings(i, line);
  else
    Add(line);
}

bool TStrings::same(StringView a, StringView b) const { return compare_text(a, b, FCaseSensitive) == 0; }

int TStrings::IndexOf(StringView s) const {
  for (int i = 0; i < Count(); ++i)
    if (same(Strings(i), s)) return i;
  return -1;
}

int TStrings::IndexOfName(StringView name) const {
  for (int i = 0; i < Count(); ++i) {
    const String s = Strings(i);
    const auto p = s.find(u'=');
    if (p != String::npos && same(StringView(s).substr(0, p), name)) return i;
  }
  return -1;
}

int TStrings::IndexOfObject(const TObject* object) const {
  for (int i = 0; i < Count(); ++i)
    if (Objects(i) == object) return i;
  return -1;
}

void TStrings::Assign(const TPersistent* Source) {
  if (const auto* other = dynamic_cast<const TStrings*>(Source)) {
    if (other == this) return;
    BeginUpdate();
    Clear();
    for (int i = 0; i < other->Count(); ++i) Add(other->Strings(i));
    EndUpdate();
    return;
  }
  TPersistent::Assign(Source);
}

bool TStrings::Equals(const TStrings& other) const {
  if (Count() != other.Count()) return false;
  for (int i = 0; i < Count(); ++i)
    if (Strings(i) != other.Strings(i)) return false;
  return true;
}

void TStrings::LoadFromStream(TStream& stream) {
  const Int64 size = stream.Size() - stream.Position();
  std::string bytes(static_cast<std::size_t>(std::max<Int64>(size, 0)), '\0');
  if (!bytes.empty()) stream.ReadBuffer(bytes.data(), static_cast<Int64>(bytes.size()));
  String text;
  auto utf16 = [&](std::size_t from, bool bigEndian) {
    for (std::size_t i = from; i + 1 < bytes.size(); i += 2) {
      const auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
      text.push_back(static_cast<char16_t>(bigEndian ? (a << 8 | b) : (b << 8 | a)));
    }
  };
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
    text = FromUtf8(std::string_view(bytes).substr(3));
  else if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE')
    utf16(2, false);
  else if (bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF')
    utf16(2, true);
  else if (valid_utf8(bytes))
    text = FromUtf8(bytes);
  else
    text = FromBytes(bytes);
  SetText(text);
}

void TStrings::LoadFromFile(const String& fileName) {
  TFileStream f(fileName, fmOpenRead);
  LoadFromStream(f);
}

void TStrings::SaveToStream(TStream& stream) const {
  const std::string bytes = ToUtf8(Text());
  stream.WriteBuffer(bytes.data(), static_cast<Int64>(bytes.size()));
}

void TStrings::SaveToFile(const String& fileName) const {
  TFileStream f(fileName, fmCreate);
  SaveToStream(f);
}

void TStrings::BeginUpdate() {
  if (FUpdateCount++ == 0) SetUpdateState(true);
}

void TStrings::EndUpdate() {
  if (FUpdateCount > 0 && --FUpdateCount == 0) SetUpdateState(false);
}

TStringList::~TStringList() = default;

void TStringList::check(int index) const {
  if (index < 0 || index >= Count()) throw EStringListError(Format(u"List index out of bounds (%d)", index));
}

void TStringList::changed() {
  if (UpdateCount() == 0 && FOnChange) FOnChange(this);
}

void TStringList::SetUpdateState(bool updating) {
  if (!updating) changed();
}

int TStringList::compare(StringView a, StringView b) const { return compare_text(a, b, CaseSensitive()); }

String TStringList::Strings(int index) const {
  check(index);
  return FList[static_cast<std::size_t>(index)].Text;
}

void TStringList::SetStrings(int index, const String& value) {
  if (FSorted) throw EStringListError(u"Operation not allowed on sorted list");
  check(index);
  FList[static_cast<std::size_t>(index)].Text = value;
  changed();
}

TObject* TStringList::Objects(int index) const {
  check(index);
  return FList[static_cast<std::size_t>(index)].Object.get();
}

void TStringList::SetObject(int index, std::unique_ptr<TObject> object) {
  check(index);
  FList[static_cast<std::size_t>(index)].Object = std::move(object);
  changed();
}

void TStringList::Insert(int index, const String& value) { InsertObject(index, value, nullptr); }

void TStringList::InsertObject(int index, const String& value, std::unique_ptr<TObject> object) {
  if (FSorted) throw EStringListError(u"Operation not allowed on sorted list");
  if (index < 0 || index > Count()) throw EStringListError(Format(u"List index out of bounds (%d)", index));
  FList.insert(FList.begin() + index, Item{value, std::move(object)});
  changed();
}

int TStringList::Add(const String& value) {
  if (!FSorted) {
    FList.push_back(Item{value, nullptr});
    changed();
    return Count() - 1;
  }
  int index;
  if (Find(value, index)) {
    if (FDuplicates == dupIgnore) return index;
    if (FDuplicates == dupError) throw EStringListError(u"String list does not allow duplicates");
  }
  FList.insert(FList.begin() + index, Item{value, nullptr});
  changed();
  return index;
}

void TStringList::Delete(int index) {
  check(index);
  FList.erase(FList.begin() + index);
  changed();
}

void TStringList::Clear() {
  if (FList.empty()) return;
  FList.clear();
  changed();
}

int TStringList::IndexOf(StringView s) const {
  if (!FSorted) return TStrings::IndexOf(s);
  int index;
  return Find(s, index) ? index : -1;
}

bool TStringList::Find(StringView s, int& index) const {
  int lo = 0, hi = Count() - 1;
  bool found = false;
  while (lo <= hi) {
    const int mid = (lo + hi) / 2;
    const int c = compare(FList[static_cast<std::size_t>(mid)].Text, s);
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
      if (c == 0) {
        found = true;
        if (FDuplicates != dupAccept) lo = mid;
      }
    }
  }
  index = lo;
  return found;
}

void TStringList::Sort() {
  std::stable_sort(FList.begin(), FList.end(),
                   [this](const Item& a, const Item& b) { return compare(a.Text, b.Text) < 0; });
  changed();
}

void TStringList::SetSorted(bool value) {
  if (value && !FSorted) Sort();
  FSorted = value;
}

void TStringList::SetCaseSensitive(bool value) {
  TStrings::SetCaseSensitive(value);
  if (FSorted) Sort();
}

void TStringList::Exchange(int a, int b) {
  check(a);
  check(b);
  std::swap(FList[static_cast<std::size_t>(a)], FList[static_cast<std::size_t>(b)]);
  changed();
}

}  // namespace qninet
