#pragma once
// The library's own forgiving XML engine: a node tree, a single-pass parser that never
// reports a syntax error, and loading from streams and files with byte-order marks.

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "qninet/rtl/Classes.h"
#include "qninet/rtl/DateUtils.h"
#include "qninet/rtl/ListRange.h"
#include "qninet/rtl/Streams.h"
#include "qninet/rtl/TypInfo.h"

namespace qninet {

enum TQNXMLItemKind : std::uint8_t { ikProperty, ikAttribute, ikComment, ikCDATA };
QNINET_DECLARE_ENUM_INFO(TQNXMLItemKind)

class TQNXMLItem;
class TQNXMLEngine;
template <class Source, bool Table>
class XMLParser;
struct XMLDocument;

/// The child items of an item, in document order; owns them. A parsed list starts as a
/// reference into the engine's compact node table: an item is made when a caller first
/// reaches it and then stays the same object. The items walk with a range-for loop
/// (`for (TQNXMLItem& item : list)`), and `size()` is `Count()`.
class QNINET_API TQNXMLItems : public TPersistent, public TListRange<TQNXMLItems> {
  QNINET_OBJECT(TQNXMLItems, TPersistent)
public:
  TQNXMLItems() = default;
  /// Destroys every item (`Clear`).
  ~TQNXMLItems() override;

  /// The number of items.
  int Count() const;
  /// The item at `index` (from 0); raises `EListError` for an index out of range.
  TQNXMLItem* Items(int index) const;
  /// The item at `index` without a range check.
  TQNXMLItem* operator[](int index) const;
  /// What the range-for loop reads: the item at `index`.
  TQNXMLItem& ListElement(int index) const { return *(*this)[index]; }
  /// A new item with `ParentItem` as owner and parent (level one deeper), appended here.
  TQNXMLItem* AddItem(TQNXMLItem* ParentItem);
  /// Destroys every item of the list, and with them their subtrees.
  virtual void Clear();
  /// Replaces the items with deep copies of `Source`'s (a `TQNXMLItems`), parented to the
  /// item that holds this list.
  void Assign(const TPersistent* Source) override;

private:
  friend class TQNXMLItem;
  friend class TQNXMLEngine;
  friend struct XMLWalk;
  template <class Source, bool Table>
  friend class XMLParser;
  static constexpr std::uint32_t kNoNode = 0xFFFFFFFFu;
  void remove(const TQNXMLItem* item);
  void adopt(TQNXMLItem* item);
  /// Lists the child nodes of `FLazyNode` as slots, making no item.
  void expand() const;
  /// Makes every item still unmade and forgets the node table (before any change).
  void settle();
  /// The item of slot `index`, made from its node when not made yet.
  TQNXMLItem* slot(std::size_t index) const;
  void attach(std::shared_ptr<const XMLDocument> doc, std::uint32_t node);
  mutable std::vector<TQNXMLItem*> FList;     // null where the item is not made yet
  mutable std::vector<std::uint32_t> FNodes;  // node of each slot (kNoNode: a plain item); empty when none
  std::shared_ptr<const XMLDocument> FDoc;    // the table the nodes lie in
  mutable std::uint32_t FLazyNode = kNoNode;  // node whose children are not listed yet
  TQNXMLItem* FHolder = nullptr;
};

/// One node: an element, an attribute or a comment. Items under an item are owned by the
/// Items list they were added to; an item made with an item as owner but never added to a
/// list is its creator's to destroy. Destroying a tree of any depth uses no recursion.
class QNINET_API TQNXMLItem : public TComponent {
  QNINET_OBJECT(TQNXMLItem, TComponent)
public:
  /// `AOwner` may be an item (which becomes `ParentItem`), the engine or none.
  explicit TQNXMLItem(TComponent* AOwner);
  /// Destroys the subtree, then leaves the parent's `Items`.
  ~TQNXMLItem() override;

  /// What the item is: an element, an attribute, a comment...
  TQNXMLItemKind Kind() const { return FKind; }
  /// Sets `Kind`.
  void SetKind(TQNXMLItemKind value) { FKind = value; }
  /// The element's or attribute's name.
  const String& TagName() const { return FTagName; }
  /// Sets `TagName`.
  void SetTagName(const String& value) { FTagName = value; }
  /// The value; unassigned until a value is set. Any value is kept as its text.
  Variant Value() const { return FValueAssigned ? Variant(FValueText) : Variant(); }
  /// Sets `Value`.
  void SetValue(const Variant& value);
  /// Whether a value was ever assigned (an empty text counts as assigned).
  bool ValueAssigned() const { return FValueAssigned; }
  /// The value's text (empty when unassigned), without a copy.
  const String& ValueText() const { return FValueText; }
  /// The item's children, owned.
  TQNXMLItems* Items() const { return &FItems; }
  /// Copies `value`'s items into this item's list (deep copies).
  void SetItems(const TQNXMLItems* value) { FItems.Assign(value); }
  /// The item above this one, or none for a root.
  TQNXMLItem* ParentItem() const { return FParentItem; }
  /// The depth in the tree; 0 for the root.
  Integer Level() const { return FLevel; }
  /// The element's attributes as written in its start tag, until `ProcessAttributes` splits them.
  const String& Attributes() const { return FAttributes; }
  /// Sets `Attributes`.
  void SetAttributes(const String& value) { FAttributes = value; }

  /// The item itself or the first descendant (pre-order) whose `TagName` equals `XMLTag`
  /// exactly; without `ExpandAllLevels` only down to the grandchildren. None when absent.
  TQNXMLItem* GetChild(const String& XMLTag, bool ExpandAllLevels) const;
  /// The value as text; when it starts with a double quote that quote goes, and so do the
  /// trailing blanks and quotes.
  String GetTagXMLValue() const;
  /// `GetTagXMLValue` with the entity table and numeric character references decoded in
  /// one pass from left to right.
  String GetTagValue() const;
  /// Splits `Attributes` into `ikAttribute` children (raw values, quotes kept) and empties it.
  void ProcessAttributes();
  /// Copies kind, name, value, attributes and a deep copy of the items of another item.
  void Assign(const TPersistent* Source) override;

  /// The parent item, else the component owner.
  TPersistent* GetOwner() const override;

  // Items come from a per-thread pool: a parse makes one per element, and the general
  // allocator's bookkeeping cost as much as the parse itself.
  /// Items come from a per-thread pool: a parse makes one per element.
  static void* operator new(std::size_t size);
  /// Returns an item's memory to the pool.
  static void operator delete(void* block, std::size_t size) noexcept;

private:
  friend class TQNXMLItems;
  friend class TQNXMLEngine;
  friend struct XMLWalk;
  struct ChildOf {};
  /// A child of `parent`, as the constructor makes it, without asking the owner's class.
  TQNXMLItem(TQNXMLItem* parent, ChildOf);
  template <class Source, bool Table>
  friend class XMLParser;
  void append_value(String text);

  TQNXMLItemKind FKind = ikProperty;
  bool FValueAssigned = false;
  Integer FLevel = 0;
  String FTagName;
  String FValueText;
  String FAttributes;
  mutable TQNXMLItems FItems;
  TQNXMLItem* FParentItem = nullptr;
  TQNXMLItems* FContainer = nullptr;           // the list that holds this item, if any
  std::uint32_t FNode = TQNXMLItems::kNoNode;  // the table node it was made from
};

/// Compares exactly when `Exact`, otherwise ignoring the case of A-Z only.
QNINET_API bool SameStrings(bool Exact, StringView S1, StringView S2);
/// "yyyy-mm-ddThh:nn:ss" (anything after the seconds ignored) to a date-time; 0 for an
/// empty text or anything that does not read as a date and time.
QNINET_API TDateTime XMLStringToDateTime(const String& S);
/// `Text` with the entity table and numeric character references decoded in one pass.
QNINET_API String DecodeXMLEntities(StringView Text);
/// What `GetTagValue` gives for an item whose value is `Value`.
QNINET_API String XMLTagValue(StringView Value);

/// One item as a tree walk sees it, made or not; the views last until the walk goes on.
struct TQNXMLNodeView {
  /// What the item is.
  TQNXMLItemKind Kind = ikProperty;
  /// The element's or attribute's name.
  StringView TagName;
  /// Whether the item has a value.
  bool ValueAssigned = false;
  /// The value's text.
  StringView Value;
  /// The attributes as written in the start tag.
  StringView Attributes;
};

/// Asked before an element or comment becomes a child of `ParentNode`; clear `Accept` to
/// leave the element and its content out.
using TQNIXMLOnTagEvent =
    std::function<void(TObject* Sender, TQNXMLItem* ParentNode, const String& ATagName,
                       const String& ATagValue, const String& ATagAttributes, bool& Accept)>;
/// Told when an item is closed; set `Cancel` to end the parse there.
using TQNIXMLOnAfterTagEvent = std::function<void(TObject* Sender, TQNXMLItem*& Node, bool& Cancel)>;

/// The forgiving parser: scans a text once and builds a tree under `RootItem`. It never
/// raises for malformed input; exceptions from handlers pass to the caller.
class QNINET_API TQNXMLEngine : public TComponent {
  QNINET_OBJECT(TQNXMLEngine, TComponent)
public:
  /// Creates the component; `AOwner` (or none) owns it and destroys it with itself.
  explicit TQNXMLEngine(TComponent* AOwner = nullptr);
  /// Frees the root item and the tree.
  ~TQNXMLEngine() override;

  /// The root of the parsed tree, owned by the engine; none before a parse.
  TQNXMLItem* RootItem() const { return FRootItem; }
  /// Takes `value` as the root; the engine frees the root it holds when destroyed.
  void SetRootItem(TQNXMLItem* value) { FRootItem = value; }
  /// Asked before an element or comment becomes an item.
  const TQNIXMLOnTagEvent& OnTag() const { return FOnTag; }
  /// Sets the `OnTag` handler.
  void SetOnTag(TQNIXMLOnTagEvent value) { FOnTag = std::move(value); }
  /// Told when an item is closed.
  const TQNIXMLOnAfterTagEvent& OnAfterTag() const { return FOnAfterTag; }
  /// Sets the `OnAfterTag` handler.
  void SetOnAfterTag(TQNIXMLOnAfterTagEvent value) { FOnAfterTag = std::move(value); }

  /// True when the loader already read the text as UTF-16 or UTF-8, so the parser decodes
  /// nothing a second time.
  bool UTF8Processed = false;

  /// Parses the first `ALength` characters of `AText` into the tree under `RootItem`
  /// (added to what is there). Raises only what a handler raises.
  void ParseXMLFromString(const String& AText, Integer ALength);
  /// The item (from `ARoot`, or `RootItem` when none, itself included) whose `TagName`
  /// equals `XMLTag` ignoring ASCII case, first in pre-order; none when absent.
  TQNXMLItem* GetItemByTag(TQNXMLItem* ARoot, const String& XMLTag) const;
  /// Visits `ARoot` and everything under it in document order without making items:
  /// `Enter` with each item and its depth below `ARoot`, `Leave` once its items are done.
  static void WalkTree(const TQNXMLItem& ARoot,
                       const std::function<void(const TQNXMLNodeView&, std::size_t)>& Enter,
                       const std::function<void()>& Leave);
  /// Returns the part of `AXMLPath` before its first "/" and leaves the rest there.
  String GetFirstTagName(String& AXMLPath) const;
  /// Returns the part of `AXMLPath` after its last "/" and leaves the part before it there.
  String GetLastTagName(String& AXMLPath) const;

  /// Empties the tree below the root, reads the stream's bytes from its position and parses
  /// them: marks FF FE, FE FF, EF BB BF; without one UTF-8 when a leading declaration names it,
  /// or names no encoding and the bytes are valid UTF-8; else the ANSI code page.
  /// `AStreamSize` 0 takes the stream's size and probes for a 16-bit mark. Stream errors pass
  /// to the caller.
  void LoadFromStream(Integer AStreamSize, TStream* AStream);
  /// `LoadFromStream` of a file; raises `EFOpenError` when it cannot be opened.
  void LoadFromFile(const String& AFileName);

private:
  template <class Source, bool Table>
  friend class XMLParser;
  /// Parses bytes whose markup is ASCII: UTF-8 when `codePage` is none, otherwise the 256
  /// characters of the ASCII-based single-byte code page they are written in.
  void parse_bytes(std::string_view bytes, const char16_t* codePage);
  TQNXMLItem* FRootItem = nullptr;
  TQNIXMLOnTagEvent FOnTag;
  TQNIXMLOnAfterTagEvent FOnAfterTag;
};

}  // namespace qninet
