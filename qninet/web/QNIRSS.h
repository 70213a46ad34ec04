#pragma once
// The feed parser: downloads an RSS 0.9x/2.0 or RSS 1.0 (RDF) feed through the updater's run
// and reads it into channels and their items with a small scanner of its own.

#include <algorithm>
#include <bit>
#include <memory>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "qninet/rtl/ListRange.h"
#include "qninet/web/qniupdate.h"

namespace qninet {

/// One item of a channel; the texts are stored as found (dates not converted; entities decoded
/// only with the parser's `DecodeEntities`).
class QNINET_API TQNIRSSItem : public TPersistent {
  QNINET_OBJECT(TQNIRSSItem, TPersistent)
public:
  /// The item's title, link and description, as the feed gives them.
  ///@{
  String Title;
  String Link;
  String Description;
  ///@}
  String Creator;  ///< dc:creator, else RSS 2.0's author
  String Date;     ///< dc:date, else RSS 2.0's pubDate
  /// Copies the five fields from another item; anything else is ignored.
  void Assign(const TPersistent* Source) override;
};

/// A list that owns its objects, as the feed's channels and items are kept. The objects live
/// side by side in blocks that double up to 1024 objects, not one allocation each, so a feed of
/// many small items costs little more than the items themselves; an object never moves while
/// it is in the list. The first `DeleteItem` adds an index of the objects left. The objects walk
/// with a range-for loop (`for (T& item : list)`), and `size()` is `Count()`.
template <class T>
class TQNIOwnedList : public TListRange<TQNIOwnedList<T>> {
public:
  TQNIOwnedList() = default;
  TQNIOwnedList(const TQNIOwnedList&) = delete;
  TQNIOwnedList& operator=(const TQNIOwnedList&) = delete;

  /// The number of objects.
  int Count() const { return static_cast<int>(FOrder ? FOrder->size() : FUsed); }
  /// The object at `Index`, or null when there is none.
  T* GetItem(int Index) const { return Index < 0 || Index >= Count() ? nullptr : At(Index); }
  /// The last object, or null when the list is empty.
  T* Last() const { return Count() == 0 ? nullptr : At(Count() - 1); }
  /// What the range-for loop reads: the object at `Index`.
  T& ListElement(int Index) const { return *At(static_cast<std::size_t>(Index)); }
  /// Appends a new object and returns it.
  T* Add() {
    const auto [block, offset] = Place(FUsed);
    if (block == FBlocks.size()) FBlocks.push_back(std::make_unique_for_overwrite<Slot[]>(BlockSize(block)));
    T* item = new (&FBlocks[block][offset]) T();
    ++FUsed;
    if (FOrder) try {
        FOrder->push_back(item);
      } catch (...) {
        item->~T();  // the slot stays unused
        throw;
      }
    return item;
  }
  /// Frees the object at `Index`; raises `EListError` for a bad index.
  void DeleteItem(int Index) {
    if (Index < 0 || Index >= Count()) throw_index_error(Index);
    if (!FOrder) {
      auto order = std::make_unique<std::vector<T*>>();
      order->reserve(FUsed);
      for (std::size_t i = 0; i < FUsed; ++i) order->push_back(At(i));
      FOrder = std::move(order);
    }
    T* item = (*FOrder)[Index];
    FOrder->erase(FOrder->begin() + Index);
    item->~T();
  }
  /// Frees every object, the last first.
  void ClearItems() {
    for (std::size_t i = static_cast<std::size_t>(Count()); i > 0; --i) At(i - 1)->~T();
    FBlocks.clear();
    FOrder.reset();
    FUsed = 0;
  }

protected:
  ~TQNIOwnedList() { ClearItems(); }

private:
  struct alignas(T) Slot {
    unsigned char Bytes[sizeof(T)];
  };
  static constexpr std::size_t kLastShift = 10;  // the blocks grow to 1 << kLastShift objects
  static std::size_t BlockSize(std::size_t block) { return std::size_t{1} << std::min(block, kLastShift); }
  // The block and the place in it of the `i`th object made: blocks 0 to kLastShift hold 1, 2, 4
  // ... objects, the later ones 1 << kLastShift each.
  static std::pair<std::size_t, std::size_t> Place(std::size_t i) {
    constexpr std::size_t kGrown = (std::size_t{2} << kLastShift) - 1;  // objects in the growing blocks
    if (i < kGrown) {
      const auto block = static_cast<std::size_t>(std::bit_width(i + 1) - 1);
      return {block, i + 1 - (std::size_t{1} << block)};
    }
    return {kLastShift + 1 + (i - kGrown) / BlockSize(kLastShift), (i - kGrown) % BlockSize(kLastShift)};
  }
  T* At(std::size_t i) const {
    if (FOrder) return (*FOrder)[i];
    const auto [block, offset] = Place(i);
    return std::launder(reinterpret_cast<T*>(&FBlocks[block][offset]));
  }
  [[noreturn]] static void throw_index_error(int Index) {
    throw EListError(u"List index out of bounds (" + FromUtf8(std::to_string(Index)) + u")");
  }
  std::vector<std::unique_ptr<Slot[]>> FBlocks;
  std::size_t FUsed = 0;  // slots made, in the order they were added
  // After a deletion, the objects in the list's order; none before.
  std::unique_ptr<std::vector<T*>> FOrder;
};

/// The items of a channel, in document order.
class QNINET_API TQNIRSSItems : public TObject, public TQNIOwnedList<TQNIRSSItem> {
  QNINET_OBJECT(TQNIRSSItems, TObject)
public:
  ~TQNIRSSItems() override;
  /// Replaces this list by copies of another item list's items; anything else is ignored.
  void AssignItems(const TObject* Source);
};

class TQNIRSSChannels;
namespace feed_detail {
struct ChannelRecord;
struct ChannelStore;
ChannelStore& store_of(TQNIRSSChannels& channels);
}  // namespace feed_detail

/// One channel of a feed: its elements and its items.
class QNINET_API TQNIRSSChannel : public TPersistent {
  QNINET_OBJECT(TQNIRSSChannel, TPersistent)
public:
  TQNIRSSChannel();
  ~TQNIRSSChannel() override;
  /// The channel's elements of the same names, as the feed gives them.
  ///@{
  String Title;
  String Link;
  String Description;
  String Language;
  String Copyright;
  String Rating;
  String ManagingEditor;
  String WebMaster;
  String PubDate;
  String LastBuildDate;
  String Category;
  String Generator;
  String Docs;
  String Ttl;
  ///@}
  /// The channel's items, owned.
  TQNIRSSItems* Items() const { return FItems.get(); }
  /// Copies the fourteen texts and the items of another channel; anything else is ignored.
  void Assign(const TPersistent* Source) override;

private:
  friend struct feed_detail::ChannelRecord;
  explicit TQNIRSSChannel(std::unique_ptr<TQNIRSSItems> items);  // with these items (none: a new list)
  std::unique_ptr<TQNIRSSItems> FItems;
};

/// The channels of a feed, owned. A parse keeps each channel as a lean record (the texts the
/// feed gave and the items) and makes its `TQNIRSSChannel` when the channel is first asked for,
/// so a feed of many small channels costs little more than its text; several threads may ask
/// at once. A channel object, once made, never moves while it is in the list.
/// The feed's channels; they walk with a range-for loop (`for (TQNIRSSChannel& c : channels)`).
class QNINET_API TQNIRSSChannels : public TObject, public TListRange<TQNIRSSChannels> {
  QNINET_OBJECT(TQNIRSSChannels, TObject)
public:
  TQNIRSSChannels();
  ~TQNIRSSChannels() override;
  int Count() const;  ///< the number of channels
  /// The channel at `Index`, or null when there is none.
  TQNIRSSChannel* GetItem(int Index) const;
  TQNIRSSChannel* Last() const { return GetItem(Count() - 1); }  ///< the last channel, or null
  /// Appends a new channel and returns it.
  TQNIRSSChannel* Add();
  /// Frees the channel at `Index`; raises `EListError` for a bad index.
  void DeleteItem(int Index);
  /// Frees every channel, the last first.
  void ClearItems();
  /// The channel at `Index` by reference, as the range-for loop reads it.
  TQNIRSSChannel& ListElement(int Index) const { return *GetItem(Index); }

private:
  friend feed_detail::ChannelStore& feed_detail::store_of(TQNIRSSChannels& channels);
  std::unique_ptr<feed_detail::ChannelStore> FStore;  // none before the first channel
};

/// Downloads `RemoteFileName` into a private temporary file, parses it into `Channels` and
/// deletes the file. With `DecodeEntities` (default false) the stored texts have their
/// character references decoded (XML's, numeric ones and HTML 4's names), CDATA sections
/// excepted; off, they keep them for the caller to decode (for instance with
/// `ReplaceHTMLChars`).
class QNINET_API TQNIRSSParser : public TQNCustomWebUpdater {
  QNINET_OBJECT(TQNIRSSParser, TQNCustomWebUpdater)
public:
  /// Creates the component; `AOwner` (or none) owns it and destroys it with itself.
  explicit TQNIRSSParser(TComponent* AOwner);
  ~TQNIRSSParser() override;
  /// Runs the updater and parses a finished download. A feed that is not found empties
  /// `Channels`; a skipped or failed run keeps them. The temporary file is deleted either way.
  bool Execute() override;
  /// The channels of the last parsed feed, owned.
  TQNIRSSChannels* Channels() const { return FChannels.get(); }
  /// Whether the stored texts have their character references decoded; false by default.
  bool DecodeEntities() const { return FDecodeEntities; }
  /// Sets `DecodeEntities`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetDecodeEntities(bool value) {
    RefuseWriteWhileRunning(*this);
    FDecodeEntities = value;
  }

protected:
  /// Reads the local file and parses it into `Channels`; raises `EFOpenError` when it cannot
  /// be opened.
  virtual void ParseRSS();

private:
  std::unique_ptr<TQNIRSSChannels> FChannels;
  int FTempSlot;
  bool FDecodeEntities = false;
};

/// Scans a feed's text into `Channels` (cleared first): the path of open elements selects the
/// field that the trimmed text after a start tag fills. CDATA sections are text; comments end
/// at "-->"; malformed input is never an error. With `DecodeEntities` the character references
/// outside CDATA sections are decoded once ("&amp;lt;" gives "&lt;"; an unknown one stays).
QNINET_API void ParseRSSText(StringView Text, TQNIRSSChannels& Channels, bool DecodeEntities = false);
/// The same on a feed's bytes, decoded as the feed says: a byte-order mark, else the XML
/// declaration's encoding, else `Charset` (the answer's Content-Type charset), else UTF-8 when
/// the bytes are valid UTF-8, else the system's ANSI code page; invalid bytes become U+FFFD.
QNINET_API void ParseRSSBytes(std::string_view Bytes, TQNIRSSChannels& Channels, bool DecodeEntities = false,
                              std::string_view Charset = {});

}  // namespace qninet
