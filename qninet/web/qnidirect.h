#pragma once
// The news browser: fetches a news file (sections of "link=headline" lines) from a web, FTP
// or network location through the updater's run, keeps the previous copy, and shows the
// sections and entries as a tree in which entries missing from the previous copy are new.
// Clicking an entry opens its link with the desktop's opener.

#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "qninet/rtl/ComCtrls.h"
#include "qninet/rtl/Forms.h"
#include "qninet/web/qniupdate.h"

namespace qninet {

/// When `Execute` opens the window: always, never, or only when a new news file came.
enum TQNIShowMode : std::uint8_t { omAlways, omNever, omIfChanged };
QNINET_DECLARE_ENUM_INFO(TQNIShowMode)

/// The object attached to each entry node: the link its click opens.
class QNINET_API TQNINodeData : public TObject {
  QNINET_OBJECT(TQNINodeData, TObject)
public:
  /// Node data for the entry that opens `url`.
  explicit TQNINodeData(const String& url) : Url(url) {}
  /// The link the entry's click opens.
  String Url;
};

/// A text of a news file (a section's name, an entry's key or value): a view of characters that
/// the file's `TQNINewsFile` holds, valid while it lives.
class QNINET_API TQNINewsText {
public:
  TQNINewsText() = default;
  operator StringView() const { return FText ? StringView(FText, length()) : StringView(); }  ///< no copy
  operator String() const { return String(StringView(*this)); }  ///< a copy that outlives the file
  bool empty() const { return !FText; }                          ///< whether it has no characters
  std::size_t size() const { return FText ? length() : 0; }      ///< the number of UTF-16 code units
  friend bool operator==(const TQNINewsText& a, StringView b) { return StringView(a) == b; }  ///< exact

private:
  friend class TQNINewsFile;
  explicit TQNINewsText(const char16_t* text) : FText(text) {}
  std::size_t length() const {
    std::uint32_t n;
    std::memcpy(&n, FText - 2, sizeof n);
    return n;
  }
  const char16_t* FText = nullptr;  // after its length, kept in two code units; null when empty
};
/// One "key=value" line of a news file's section.
struct TQNINewsEntry {
  TQNINewsText Key;    ///< the text before the line's first "=": the link
  TQNINewsText Value;  ///< the text after it: the headline
};
/// One section of a news file.
struct TQNINewsSection {
  TQNINewsText Name;                       ///< the section's name, without its brackets
  std::span<const TQNINewsEntry> Entries;  ///< its lines in file order, a section named again's too
};

/// The sections of a news file and their "key=value" lines, in file order, with the texts they
/// refer to: a few bytes per entry beside its text, which an object of strings per entry is
/// not. Names, keys and values are trimmed, a value's enclosing quotes removed; blank lines,
/// ";" comments, lines without "=" or without a key, and lines before the first section are
/// skipped. A section named again continues the first one.
class QNINET_API TQNINewsFile {
public:
  using const_iterator = std::vector<TQNINewsSection>::const_iterator;  ///< the sections in file order
  const_iterator begin() const { return FSections.begin(); }            ///< the first section
  const_iterator end() const { return FSections.end(); }                ///< after the last section
  std::size_t size() const { return FSections.size(); }                 ///< the number of sections
  bool empty() const { return FSections.empty(); }                      ///< whether there is none
  const TQNINewsSection& operator[](std::size_t i) const { return FSections[i]; }  ///< `i` below `size()`

  /// Reads the bytes of a news file (in its code page, or UTF-8 with or without a mark, or
  /// UTF-16 with a mark).
  static TQNINewsFile Parse(std::string_view Bytes);

private:
  class Builder;
  /// Room for `units` code units of texts in one block (untouched until texts are kept).
  void Reserve(std::size_t units);
  TQNINewsText Keep(StringView text);

  std::vector<TQNINewsSection> FSections;
  std::vector<TQNINewsEntry> FEntries;              // each section's entries side by side, in file order
  std::vector<std::unique_ptr<char16_t[]>> FTexts;  // blocks of texts, each text after its length
  char16_t* FNext = nullptr;                        // the free part of the last block
  std::size_t FFree = 0;
};

/// The sections of a news file; a missing file gives none.
QNINET_API TQNINewsFile ReadNewsFile(const String& FileName);
/// The same for the bytes of a news file (`TQNINewsFile::Parse`).
QNINET_API TQNINewsFile ParseNewsFile(std::string_view Bytes);

/// Whether an entry is new against the previous copy: there is none (`Previous` null), or it
/// holds no non-empty value for the key in the same section (names compared ignoring case).
QNINET_API bool NewsEntryIsNew(const TQNINewsFile* Previous, StringView Section, StringView Key);

/// The entries of a previous copy that hold a value, gathered once, so that telling each entry
/// of the new copy costs one look-up instead of a walk of the previous copy. It refers to the
/// previous copy, which must outlive it.
class QNINET_API TQNINewsSeen {
public:
  /// `Previous` null: there is no previous copy, and every entry is new.
  explicit TQNINewsSeen(const TQNINewsFile* Previous);
  /// As `NewsEntryIsNew` against the copy this was made from.
  bool IsNew(StringView Section, StringView Key) const;

private:
  // An entry holding a value: the hash of its upper-cased section and key, and its place among
  // all the previous copy's entries + 1 (0: a free slot).
  struct Slot {
    std::uint32_t Hash = 0, Entry = 0;
  };
  const TQNINewsFile* FPrevious;
  std::vector<Slot> FSlots;            // open-addressed, a power of two, at most three quarters used
  std::vector<std::uint32_t> FFirsts;  // each section's first entry's place among all entries
};

/// Where the news file of a program goes: beside it with the extension ".nwf" when its folder
/// is writable, else under the user's data folder ($XDG_DATA_HOME, default ~/.local/share) in
/// a folder named after the program, with the same file name.
QNINET_API String NewsFileLocation(const String& ProgramFile);

/// The news browser: downloads a news file of sections and links, and shows its headlines in a tree, marking
/// those new since the previous copy.
class QNINET_API TQNWebDirect : public TQNCustomWebUpdater {
  QNINET_OBJECT(TQNWebDirect, TQNCustomWebUpdater)
public:
  /// The local news file is `NewsFileLocation` of the running program.
  explicit TQNWebDirect(TComponent* AOwner);
  ~TQNWebDirect() override;

  /// Copies the local news file to the previous copy, runs the updater, then opens the window
  /// modally for `omAlways`, or for `omIfChanged` when a new file was downloaded.
  bool Execute() override;
  /// Builds the window from the local news file and the previous copy (no transfer) and shows
  /// it without waiting.
  void Show();
  /// The same, waiting until the window closes (an embedded window does not wait).
  void ShowModal();

  /// When `Execute` opens the window: always, never, or only when a new news file came.
  TQNIShowMode ShowMode() const { return FShowMode; }
  /// Sets `ShowMode`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetShowMode(TQNIShowMode value) {
    RefuseWriteWhileRunning(*this);
    FShowMode = value;
  }
  /// Caption of the stand-alone window; "Veltraxon WebDirect" by default.
  const String& Title() const { return FTitle; }
  /// Sets `Title`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetTitle(const String& value) {
    RefuseWriteWhileRunning(*this);
    FTitle = value;
  }
  /// When set, the tree is embedded in this control, filling it, instead of a window.
  TControl* ParentControl() const { return FParentControl; }
  /// Sets `ParentControl`.
  void SetParentControl(TControl* value);

  /// The previous copy: the local news file with the extension ".~nwf".
  String PreviousFileName() const;
  /// The stand-alone window while it exists, or none (always none when embedded).
  TForm* Form() const { return frm; }
  /// The tree of the last showing while it exists, or none.
  TTreeView* Tree() const { return tree; }

protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

private:
  void build(bool modal);
  void forget_window();
  void tree_click();

  TQNIShowMode FShowMode = omAlways;
  String FTitle;
  TControl* FParentControl = nullptr;
  TForm* frm = nullptr;
  TTreeView* tree = nullptr;
  TImageList* FImageList = nullptr;
};

}  // namespace qninet
