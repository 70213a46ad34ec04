#include "qninet/web/qnidirect.h"

#include <algorithm>

#include "qninet/rtl/Streams.h"
#include "qninet/rtl/TypInfo.h"
#include "qninet/sys/CodePage.h"
#include "qninet/sys/Desktop.h"
#include "qninet/sys/Files.h"
#include "qninet/sys/TextDecoding.h"
#include "qninet/web/WebContent.h"

namespace qninet {

QNINET_DEFINE_ENUM_INFO(TQNIShowMode, "omAlways", "omNever", "omIfChanged")
QNINET_CLASS_INFO(TQNINodeData)
QNINET_CLASS_INFO(TQNWebDirect, Published("ShowMode", &Self::ShowMode, &Self::SetShowMode, omAlways),
                  Published("Title", &Self::Title, &Self::SetTitle))

namespace {

String unquote(String v) {
  if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

const TQNINewsSection* find_section(const std::vector<TQNINewsSection>& sections, StringView name) {
  const auto it = std::find_if(sections.begin(), sections.end(),
                               [&](const TQNINewsSection& s) { return SameText(s.Name, name); });
  return it == sections.end() ? nullptr : &*it;
}

}  // namespace

namespace {

std::uint32_t entry_hash(const String& upperSection, const String& upperKey) {
  return static_cast<std::uint32_t>(std::hash<String>{}(upperSection)*31 + std::hash<String>{}(upperKey));
}

}  // namespace

TQNINewsSeen::TQNINewsSeen(const std::vector<TQNINewsSection>* Previous) : FPrevious(Previous) {
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

bool NewsEntryIsNew(const std::vector<TQNINewsSection>* Previous, StringView Section, StringView Key) {
  if (!Previous) return true;
  const TQNINewsSection* s = find_section(*Previous, Section);
  if (!s) return true;
  return std::none_of(s->Entries.begin(), s->Entries.end(),
                      [&](const TQNINewsEntry& e) { return SameText(e.Key, Key) && !e.Value.empty(); });
}

std::vector<TQNINewsSection> ReadNewsFile(const String& FileName) {
  if (!sys::file_exists(ToUtf8(FileName))) return {};
  return ParseNewsFile(ReadLocalBytes(FileName));
}

namespace {

std::size_t line_end(std::u16string_view text, std::size_t at) { return text.find_first_of(u"\r\n", at); }
std::size_t line_end(std::string_view text, std::size_t at) { return text.find_first_of("\r\n", at); }

template <class Text, class Decode, class Line>
void split_lines(Text text, Decode decode, Line& line) {
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = line_end(text, start);
    if (end == Text::npos) end = text.size();
    line(decode(text.substr(start, end - start)));
    start = end + 1;
  }
}

// Calls `line` with each line of a news file's text, trimmed. Text in an ASCII-based charset is
// decoded a line at a time, so the file's whole text is never held beside what is read from it.
template <class Line>
void for_each_line(std::string_view bytes, Line line) {
  std::size_t mark = 0;
  std::string charset(sys::bom_charset(bytes, mark));
  if (charset.rfind("UTF-16", 0) == 0) {
    const String text = sys::decode_page_text(bytes);
    return split_lines(
        StringView(text), [](StringView l) { return Trim(l); }, line);
  }
  bytes.remove_prefix(mark);
  if (charset.empty()) charset = sys::valid_utf8(bytes) ? "UTF-8" : sys::ansi_code_page();
  split_lines(
      bytes, [&](std::string_view l) { return Trim(sys::decode_bytes(l, charset)); }, line);
}

// The sections' indexes by upper-cased name, open-addressed: a slot holds a section's index + 1
// (0: free), so a section costs a few bytes here instead of a copy of its name; a probe compares
// the names themselves, and the table stays at most half full so probes stay few.
class SectionIndex {
public:
  // The index of the section named `upper` (upper-cased), or `added` when it is new.
  std::size_t Find(const std::vector<TQNINewsSection>& sections, const String& upper, std::size_t added) {
    if (2 * (FCount + 1) > FSlots.size()) Grow(sections);
    for (std::size_t i = Home(upper);; i = (i + 1) & (FSlots.size() - 1)) {
      const std::uint32_t slot = FSlots[i];
      if (slot == 0) {
        FSlots[i] = static_cast<std::uint32_t>(added + 1);
        ++FCount;
        return added;
      }
      if (UpperCase(sections[slot - 1].Name) == upper) return slot - 1;
    }
  }

private:
  std::size_t Home(const String& upper) const { return std::hash<String>{}(upper) & (FSlots.size() - 1); }
  void Grow(const std::vector<TQNINewsSection>& sections) {
    std::vector<std::uint32_t> old(std::max<std::size_t>(16, 2 * FSlots.size()), 0);
    old.swap(FSlots);
    for (const std::uint32_t slot : old) {
      if (slot == 0) continue;
      std::size_t i = Home(UpperCase(sections[slot - 1].Name));
      while (FSlots[i] != 0) i = (i + 1) & (FSlots.size() - 1);
      FSlots[i] = slot;
    }
  }
  std::vector<std::uint32_t> FSlots;
  std::size_t FCount = 0;
};

}  // namespace

std::vector<TQNINewsSection> ParseNewsFile(std::string_view Bytes) {
  std::vector<TQNINewsSection> sections;
  SectionIndex byName;  // a section named again continues the first one
  TQNINewsSection* current = nullptr;
  for_each_line(Bytes, [&](const String& line) {
    if (line.empty() || line[0] == u';') return;
    if (line[0] == u'[') {
      const std::size_t close = line.find(u']');
      String name = Trim(StringView(line).substr(1, close == String::npos ? String::npos : close - 1));
      const std::size_t at = byName.Find(sections, UpperCase(name), sections.size());
      if (at == sections.size()) sections.push_back(TQNINewsSection{std::move(name), {}});
      current = &sections[at];
      return;
    }
    const std::size_t eq = line.find(u'=');
    if (!current || eq == String::npos) return;
    String key = Trim(StringView(line).substr(0, eq));
    if (key.empty()) return;
    current->Entries.push_back({std::move(key), unquote(Trim(StringView(line).substr(eq + 1)))});
  });
  return sections;
}

String NewsFileLocation(const String& ProgramFile) {
  const String folder = ExtractFilePath(ProgramFile);
  const String name = ChangeFileExt(ExtractFileName(ProgramFile), u".nwf");
  if (sys::directory_writable(ToUtf8(folder.empty() ? u"." : folder))) return folder + name;
  return FromUtf8(sys::user_data_directory()) + u"/" + ChangeFileExt(ExtractFileName(ProgramFile), u"") +
         u"/" + name;
}

TQNWebDirect::TQNWebDirect(TComponent* AOwner) : TQNCustomWebUpdater(AOwner), FTitle(u"Veltraxon WebDirect") {
  FLocalFileName = NewsFileLocation(FromUtf8(sys::executable_path()));
}

TQNWebDirect::~TQNWebDirect() {
  StopAsyncRun();
  forget_window();
  SetParentControl(nullptr);
}

String TQNWebDirect::PreviousFileName() const { return ChangeFileExt(FLocalFileName, u".~nwf"); }

void TQNWebDirect::SetParentControl(TControl* value) {
  if (value == FParentControl) return;
  if (FParentControl) FParentControl->RemoveFreeNotification(this);
  FParentControl = value;
  if (FParentControl) FParentControl->FreeNotification(this);
}

void TQNWebDirect::Notification(TComponent* AComponent, TOperation Operation) {
  TQNCustomWebUpdater::Notification(AComponent, Operation);
  if (Operation != opRemove) return;
  if (AComponent == FParentControl) FParentControl = nullptr;
  if (AComponent == tree) tree = nullptr;
  if (AComponent == FImageList) FImageList = nullptr;
  if (AComponent == frm) frm = nullptr, tree = nullptr;
}

bool TQNWebDirect::Execute() {
  const std::string local = ToUtf8(FLocalFileName);
  if (const std::string folder = ToUtf8(ExtractFilePath(FLocalFileName)); !folder.empty())
    (void)sys::make_directories(folder);
  if (sys::file_exists(local)) {
    const std::string bytes = ReadLocalBytes(FLocalFileName);
    TFileStream copy(PreviousFileName(), fmCreate);
    copy.WriteBuffer(bytes.data(), static_cast<Int64>(bytes.size()));
  }
  const bool result = TQNCustomWebUpdater::Execute();
  if (FShowMode == omAlways || (FShowMode == omIfChanged && result && Status() == isFinished)) ShowModal();
  return result;
}

void TQNWebDirect::Show() { build(false); }
void TQNWebDirect::ShowModal() { build(true); }

// One window at a time: a new showing frees the previous window, its tree and image list.
void TQNWebDirect::forget_window() {
  if (tree) {
    tree->RemoveFreeNotification(this);
    delete std::exchange(tree, nullptr);
  }
  if (FImageList) {
    FImageList->RemoveFreeNotification(this);
    delete std::exchange(FImageList, nullptr);
  }
  if (frm) {
    frm->RemoveFreeNotification(this);
    delete std::exchange(frm, nullptr);
  }
}

void TQNWebDirect::build(bool modal) {
  const bool hasPrevious = sys::file_exists(ToUtf8(PreviousFileName()));
  forget_window();

  TComponent* owner = this;
  if (FParentControl) {
    owner =
        FParentControl->OwnerForm() ? static_cast<TComponent*>(FParentControl->OwnerForm()) : FParentControl;
  } else {
    frm = new TForm(this);
    frm->SetName(u"frmQNIWebDirect");
    frm->SetCaption(FTitle);
    frm->SetBorderStyle(bsSizeable);
    frm->SetPosition(poScreenCenter);
    frm->SetBounds(0, 0, 460, 320);
    frm->FreeNotification(this);
    owner = frm;
  }
  // Each free-notification is asked for before anything that can raise: the host form may
  // free what it owns after a failed showing, and these fields must not outlive it.
  FImageList = new TImageList(owner);
  FImageList->FreeNotification(this);
  FImageList->SetSize(16, 16);
  FImageList->AddResource(u"DIRECT_OLD");
  FImageList->AddResource(u"DIRECT_NEW");

  tree = new TTreeView(owner);
  tree->FreeNotification(this);
  // Several browsers may embed their trees on one host form, whose names must differ.
  String name = u"tvQNIWebDirect";
  for (int n = 2; owner->FindComponent(name); ++n) name = u"tvQNIWebDirect" + IntToStr(n);
  tree->SetName(name);
  tree->BeginUpdate();
  if (FParentControl) {
    tree->SetParent(FParentControl);
    tree->SetBounds(0, 0, FParentControl->Width(), FParentControl->Height());
  } else {
    tree->SetBounds(0, 0, frm->ClientWidth(), frm->ClientHeight());
  }
  tree->SetAlign(alClient);
  tree->SetImages(FImageList);
  tree->SetReadOnly(true);
  tree->SetHotTrack(true);
  tree->SetOnClick([this](TObject*) { tree_click(); });

  const std::vector<TQNINewsSection> previous =
      hasPrevious ? ReadNewsFile(PreviousFileName()) : std::vector<TQNINewsSection>{};
  const TQNINewsSeen seen(hasPrevious ? &previous : nullptr);
  for (const TQNINewsSection& section : ReadNewsFile(FLocalFileName)) {
    TTreeNode* node = tree->Add(nullptr, section.Name);
    for (const TQNINewsEntry& entry : section.Entries) {
      TTreeNode* child = tree->Add(node, entry.Value);
      child->SetData(std::make_unique<TQNINodeData>(entry.Key));
      if (seen.IsNew(section.Name, entry.Key)) {
        child->SetImageIndex(1);
        child->SetSelectedIndex(1);
        child->SetBold(true);
      }
    }
  }
  if (!tree->Items().empty()) {
    tree->FullExpand();
    tree->SetSelected(tree->Items().front().get());
    tree->MakeVisible(tree->Items().front().get());
  }
  tree->EndUpdate();

  if (modal && frm) {
    frm->ShowModal();
    forget_window();  // closing frees the window
  } else if (frm) {
    frm->Show();
  } else if (TForm* host = FParentControl->OwnerForm()) {
    host->Changed();
  }
}

void TQNWebDirect::tree_click() {
  if (!tree || !tree->Selected()) return;
  const auto* data = dynamic_cast<const TQNINodeData*>(tree->Selected()->Data());
  if (!data) return;
  const sys::Status opened = sys::shell_open(ToUtf8(data->Url));
  SetLastErrorText(opened ? String() : String(opened.failure().Text));
}

}  // namespace qninet
