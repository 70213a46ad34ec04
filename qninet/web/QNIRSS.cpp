#include "qninet/web/QNIRSS.h"

#include "qninet/sys/TextDecoding.h"
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

TQNIRSSChannel::~TQNIRSSChannel() = default;

void TQNIRSSChannel::Assign(const TPersistent* Source) {
  const auto* s = dynamic_cast<const TQNIRSSChannel*>(Source);
  if (!s) return;
  for (String TQNIRSSChannel::*f :
       {&TQNIRSSChannel::Title, &TQNIRSSChannel::Link, &TQNIRSSChannel::Description,
        &TQNIRSSChannel::Language, &TQNIRSSChannel::Copyright, &TQNIRSSChannel::Rating,
        &TQNIRSSChannel::ManagingEditor, &TQNIRSSChannel::WebMaster, &TQNIRSSChannel::PubDate,
        &TQNIRSSChannel::LastBuildDate, &TQNIRSSChannel::Category, &TQNIRSSChannel::Generator,
        &TQNIRSSChannel::Docs, &TQNIRSSChannel::Ttl})
    this->*f = s->*f;
  FItems->AssignItems(s->Items());
}

TQNIRSSChannels::~TQNIRSSChannels() = default;

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
