#include "qninet/web/QNIRSS.h"

#include <mutex>

#include "qninet/sys/TextDecoding.h"
#include "qninet/web/FeedChannels.h"
#include "qninet/web/WebContent.h"

namespace qninet {

QNINET_CLASS_INFO(TQNIRSSItem)
QNINET_CLASS_INFO(TQNIRSSItems)
QNINET_CLASS_INFO(TQNIRSSChannel)
QNINET_CLASS_INFO(TQNIRSSChannels)
QNINET_CLASS_INFO(TQNIRSSParser,
                  Published("DecodeEntities", &Self::DecodeEntities, &Self::SetDecodeEntities, false))

void TQNIRSSItem::Assign(const TPersistent* Source) {
  const auto* s = dynamic_cast<const TQNIRSSItem*>(Source);
  if (!s) return;
  Title = s->Title;
  Link = s->Link;
  Description = s->Description;
  Creator = s->Creator;
  Date = s->Date;
}

TQNIRSSItems::~TQNIRSSItems() = default;

void TQNIRSSItems::AssignItems(const TObject* Source) {
  const auto* s = dynamic_cast<const TQNIRSSItems*>(Source);
  if (!s || s == this) return;
  ClearItems();
  for (int i = 0; i < s->Count(); ++i) Add()->Assign(s->GetItem(i));
}

TQNIRSSChannel::TQNIRSSChannel() : FItems(std::make_unique<TQNIRSSItems>()) {}

TQNIRSSChannel::TQNIRSSChannel(std::unique_ptr<TQNIRSSItems> items)
    : FItems(items ? std::move(items) : std::make_unique<TQNIRSSItems>()) {}

TQNIRSSChannel::~TQNIRSSChannel() = default;

void TQNIRSSChannel::Assign(const TPersistent* Source) {
  const auto* s = dynamic_cast<const TQNIRSSChannel*>(Source);
  if (!s) return;
  for (String TQNIRSSChannel::*f : feed_detail::kChannelTexts) this->*f = s->*f;
  FItems->AssignItems(s->Items());
}

namespace feed_detail {

String& ChannelRecord::Text(ChannelText field) {
  for (auto& [f, text] : Texts)
    if (f == field) return text;
  return Texts.emplace_back(field, String()).second;
}

void ChannelRecord::SetText(ChannelText field, String&& value) {
  for (auto& [f, text] : Texts)
    if (f == field) {
      text = std::move(value);
      return;
    }
  if (!value.empty()) Texts.emplace_back(field, std::move(value));
}

TQNIRSSItems& ChannelRecord::ItemList() {
  if (!Items) Items = std::make_unique<TQNIRSSItems>();
  return *Items;
}

ChannelStore& store_of(TQNIRSSChannels& channels) {
  if (!channels.FStore) channels.FStore = std::make_unique<ChannelStore>();
  return *channels.FStore;
}

TQNIRSSChannel* ChannelRecord::Channel() {
  if (TQNIRSSChannel* made = Made.load(std::memory_order_acquire)) return made;
  // One lock for every list: it is taken once per channel, and a list need not carry its own.
  static std::mutex making;
  const std::lock_guard lock(making);
  if (TQNIRSSChannel* made = Made.load(std::memory_order_relaxed)) return made;
  std::unique_ptr<TQNIRSSChannel> channel(new TQNIRSSChannel(std::move(Items)));
  for (auto& [field, text] : Texts) channel.get()->*kChannelTexts[field] = std::move(text);
  std::vector<std::pair<ChannelText, String>>().swap(Texts);
  Made.store(channel.get(), std::memory_order_release);
  return channel.release();
}

}  // namespace feed_detail

TQNIRSSChannels::TQNIRSSChannels() = default;

TQNIRSSChannels::~TQNIRSSChannels() = default;

int TQNIRSSChannels::Count() const { return FStore ? FStore->Count() : 0; }

TQNIRSSChannel* TQNIRSSChannels::GetItem(int Index) const {
  feed_detail::ChannelRecord* r = FStore ? FStore->GetItem(Index) : nullptr;
  return r ? r->Channel() : nullptr;
}

TQNIRSSChannel* TQNIRSSChannels::Add() { return feed_detail::store_of(*this).Add()->Channel(); }

void TQNIRSSChannels::DeleteItem(int Index) { feed_detail::store_of(*this).DeleteItem(Index); }

void TQNIRSSChannels::ClearItems() {
  if (FStore) FStore->ClearItems();
}

TQNIRSSParser::TQNIRSSParser(TComponent* AOwner)
    : TQNCustomWebUpdater(AOwner),
      FChannels(std::make_unique<TQNIRSSChannels>()),
      FTempSlot(NewTempFileSlot()) {}

TQNIRSSParser::~TQNIRSSParser() { StopAsyncRun(); }

bool TQNIRSSParser::Execute() {
  if (FLocalFileName.empty()) FLocalFileName = PrivateTempFileName(FTempSlot, RemoteFileName());
  struct Remove {
    const String& Name;
    ~Remove() { DeleteLocalFile(Name); }
  } const remove{FLocalFileName};
  const bool result = TQNCustomWebUpdater::Execute();
  if (result && Status() == isFinished)
    ParseRSS();
  else if (Status() == isNotFound)
    FChannels->ClearItems();  // a feed that is gone has no channels
  return result;
}

void TQNIRSSParser::ParseRSS() {
  FChannels->ClearItems();
  ParseRSSBytes(ReadLocalBytes(FLocalFileName), *FChannels, FDecodeEntities,
                sys::content_type_charset(ToUtf8(RemoteContentType())));
}

}  // namespace qninet
