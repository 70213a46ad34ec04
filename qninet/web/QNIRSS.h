#pragma once
// The feed parser: downloads an RSS 0.9x/2.0 or RSS 1.0 (RDF) feed through the updater's run
// and reads it into channels and their items with a small scanner of its own.

#include <memory>
#include <string_view>
#include <vector>

#include "qninet/web/qniupdate.h"

namespace qninet {

/// One item of a channel; the texts are stored as found (dates not converted; entities decoded
/// only with the parser's `DecodeEntities`).
class QNINET_API TQNIRSSItem : public TPersistent {
  QNINET_OBJECT(TQNIRSSItem, TPersistent)
public:
  String Title;
  String Link;
  String Description;
  String Creator;  ///< dc:creator, else RSS 2.0's author
  String Date;     ///< dc:date, else RSS 2.0's pubDate
  /// Copies the five fields from another item; anything else is ignored.
  void Assign(const TPersistent* Source) override;
};

/// A list that owns its objects, as the feed's channels and items are kept.
template <class T>
class TQNIOwnedList {
public:
  int Count() const { return static_cast<int>(FItems.size()); }
  /// The object at `Index`, or null when there is none.
  T* GetItem(int Index) const { return Index < 0 || Index >= Count() ? nullptr : FItems[Index].get(); }
  T* Last() const { return FItems.empty() ? nullptr : FItems.back().get(); }
  /// Appends a new object and returns it.
  T* Add() { return FItems.emplace_back(std::make_unique<T>()).get(); }
  /// Frees the object at `Index`; raises `EListError` for a bad index.
  void DeleteItem(int Index) {
    if (Index < 0 || Index >= Count()) throw_index_error(Index);
    FItems.erase(FItems.begin() + Index);
  }
  /// Frees every object, the last first.
  void ClearItems() {
    while (!FItems.empty()) FItems.pop_back();
  }

protected:
  ~TQNIOwnedList() { ClearItems(); }

private:
  [[noreturn]] static void throw_index_error(int Index) {
    throw EListError(u"List index out of bounds (" + FromUtf8(std::to_string(Index)) + u")");
  }
  std::vector<std::unique_ptr<T>> FItems;
};

class QNINET_API TQNIRSSItems : public TObject, public TQNIOwnedList<TQNIRSSItem> {
  QNINET_OBJECT(TQNIRSSItems, TObject)
public:
  ~TQNIRSSItems() override;
  /// Replaces this list by copies of another item list's items; anything else is ignored.
  void AssignItems(const TObject* Source);
};

class QNINET_API TQNIRSSChannel : public TPersistent {
  QNINET_OBJECT(TQNIRSSChannel, TPersistent)
public:
  TQNIRSSChannel();
  ~TQNIRSSChannel() override;
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
  TQNIRSSItems* Items() const { return FItems.get(); }
  /// Copies the fourteen texts and the items of another channel; anything else is ignored.
  void Assign(const TPersistent* Source) override;

private:
  std::unique_ptr<TQNIRSSItems> FItems;
};

class QNINET_API TQNIRSSChannels : public TObject, public TQNIOwnedList<TQNIRSSChannel> {
  QNINET_OBJECT(TQNIRSSChannels, TObject)
public:
  ~TQNIRSSChannels() override;
};

/// Downloads `RemoteFileName` into a private temporary file, parses it into `Channels` and
/// deletes the file. With `DecodeEntities` (default false) the stored texts have their
/// character references decoded (XML's, numeric ones and HTML 4's names), CDATA sections
/// excepted; off, they keep them for the caller to decode (for instance with
/// `ReplaceHTMLChars`).
class QNINET_API TQNIRSSParser : public TQNCustomWebUpdater {
  QNINET_OBJECT(TQNIRSSParser, TQNCustomWebUpdater)
public:
  explicit TQNIRSSParser(TComponent* AOwner);
  ~TQNIRSSParser() override;
  /// Runs the updater and parses a finished download. A feed that is not found empties
  /// `Channels`; a skipped or failed run keeps them. The temporary file is deleted either way.
  bool Execute() override;
  TQNIRSSChannels* Channels() const { return FChannels.get(); }
  bool DecodeEntities() const { return FDecodeEntities; }
  void SetDecodeEntities(bool value) { FDecodeEntities = value; }

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
