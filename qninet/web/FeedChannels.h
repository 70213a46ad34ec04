#pragma once
// The channels of a feed as the scanner leaves them: one lean record per channel, made into its
// published `TQNIRSSChannel` when the channel is first asked for. A channel object holds fourteen
// texts whether the feed gave them or not (about 530 bytes with its item list); a record holds
// only what the feed gave.

#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "qninet/web/QNIRSS.h"

namespace qninet::feed_detail {

/// A channel's texts, in their published order.
enum ChannelText : std::uint8_t {
  ctTitle,
  ctLink,
  ctDescription,
  ctLanguage,
  ctCopyright,
  ctRating,
  ctManagingEditor,
  ctWebMaster,
  ctPubDate,
  ctLastBuildDate,
  ctCategory,
  ctGenerator,
  ctDocs,
  ctTtl
};
inline constexpr String TQNIRSSChannel::*kChannelTexts[] = {
    &TQNIRSSChannel::Title,          &TQNIRSSChannel::Link,      &TQNIRSSChannel::Description,
    &TQNIRSSChannel::Language,       &TQNIRSSChannel::Copyright, &TQNIRSSChannel::Rating,
    &TQNIRSSChannel::ManagingEditor, &TQNIRSSChannel::WebMaster, &TQNIRSSChannel::PubDate,
    &TQNIRSSChannel::LastBuildDate,  &TQNIRSSChannel::Category,  &TQNIRSSChannel::Generator,
    &TQNIRSSChannel::Docs,           &TQNIRSSChannel::Ttl};

/// What the feed gave for one channel, until the channel is asked for; then the object made.
struct ChannelRecord {
  ChannelRecord() = default;
  ChannelRecord(const ChannelRecord&) = delete;
  ChannelRecord& operator=(const ChannelRecord&) = delete;
  ~ChannelRecord() { delete Made.load(std::memory_order_relaxed); }

  /// The text for `field`, added empty when the feed has not given it yet.
  String& Text(ChannelText field);
  /// Sets the text for `field`; an empty text for a field not given adds nothing.
  void SetText(ChannelText field, String&& value);
  /// The item list, made with the first item.
  TQNIRSSItems& ItemList();
  TQNIRSSItem* LastItem() const { return Items ? Items->Last() : nullptr; }
  /// The channel object, made on the first call: the texts move into it and the record keeps
  /// none. Readers on several threads may call at once; a lock is taken only to make it.
  TQNIRSSChannel* Channel();

  std::atomic<TQNIRSSChannel*> Made{nullptr};  // owned; once set, the record's texts are gone
  std::unique_ptr<TQNIRSSItems> Items;
  std::vector<std::pair<ChannelText, String>> Texts;
};

struct ChannelStore : TQNIOwnedList<ChannelRecord> {
  ~ChannelStore() { ClearItems(); }
};

}  // namespace qninet::feed_detail
