// Reading a DNS reply: the header, the questions and the records of each section. A question
// or record keeps where it lies in the message; its name and data are read when asked.
#include <atomic>

#include "qninet/socket/DNSWire.h"

namespace qninet {

namespace dns {

namespace {

String escape_name_byte(unsigned b) {
  switch (b) {
    case '.':
    case '\\':
    case '"':
    case '(':
    case ')':
    case ';':
    case '@':
    case '$':
      return String(u"\\") + static_cast<char16_t>(b);
    default:
      if (b <= 0x20 || b >= 0x7F) return decimal3(b);
      return String(1, static_cast<char16_t>(b));
  }
}

bool fail(String& error, const char16_t* text) {
  error = text;
  return false;
}

}  // namespace

bool Reader::Name(std::size_t& at, String* name, String& error) const {
  if (name) name->clear();
  std::size_t pos = at;
  bool jumped = false;
  unsigned jumps = 0, length = 0;
  for (;;) {
    if (pos >= FBytes.size()) return fail(error, u"a name runs past the end of the message");
    const unsigned len = At(pos);
    if ((len & 0xC0) == 0xC0) {
      if (pos + 1 >= FBytes.size()) return fail(error, u"a compression pointer is cut short");
      const std::size_t target = ((len & 0x3F) << 8) | At(pos + 1);
      if (!jumped) at = pos + 2;
      jumped = true;
      if (++jumps > 128 || target >= FBytes.size())
        return fail(error, u"a compression pointer loops or points outside the message");
      pos = target;
      continue;
    }
    if ((len & 0xC0) != 0) return fail(error, u"a label of an unknown kind");
    ++pos;
    if (len == 0) break;
    if (pos + len > FBytes.size()) return fail(error, u"a label runs past the end of the message");
    length += len + 1;
    if (length > 255) return fail(error, u"a name is longer than 255 bytes");
    if (name) {
      for (std::size_t i = 0; i < len; ++i) *name += escape_name_byte(At(pos + i));
      *name += u'.';
    }
    pos += len;
  }
  if (!jumped) at = pos;
  if (name && name->empty()) *name = u".";
  return true;
}

}  // namespace dns

// ---------------------------------------------------------------------------------------------
// The shared message

struct TQNIDNSMessage::Shared {
  std::atomic<std::size_t> Refs{1};
  std::string Bytes;
};

TQNIDNSMessage::TQNIDNSMessage(std::string Bytes) : FShared(new Shared) { FShared->Bytes = std::move(Bytes); }

TQNIDNSMessage::TQNIDNSMessage(const TQNIDNSMessage& other) noexcept : FShared(other.FShared) {
  if (FShared) FShared->Refs.fetch_add(1, std::memory_order_relaxed);
}

TQNIDNSMessage::~TQNIDNSMessage() {
  if (FShared && FShared->Refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete FShared;
}

std::string_view TQNIDNSMessage::Bytes() const {
  return FShared ? std::string_view(FShared->Bytes) : std::string_view();
}

// ---------------------------------------------------------------------------------------------
// Questions and records: read from the message when asked

namespace {

// A name that read when the message was decoded.
String name_at(const TQNIDNSMessage& message, std::uint32_t at) {
  const dns::Reader r(message.Bytes());
  std::size_t p = at;
  String name, error;
  r.Name(p, &name, error);
  return name;
}

}  // namespace

String TQNIDNSQuestion::Name() const { return name_at(FMessage, FNameAt); }

String TQNIDNSRecord::Name() const { return name_at(FMessage, FNameAt); }

String TQNIDNSRecord::RawData() const { return FromBytes(FMessage.Bytes().substr(FDataAt, FDataLength)); }

String TQNIDNSRecord::Data() const {
  const dns::Reader r(FMessage.Bytes());
  return dns::render_data({r, FDataAt, FDataLength}, Type);
}

std::optional<TQNIDNSAddress> TQNIDNSRecord::Address() const {
  if (!((Type == 1 && FDataLength == 4) || (Type == 28 && FDataLength == 16))) return std::nullopt;
  const dns::Reader r(FMessage.Bytes());
  return dns::read_address({r, FDataAt, FDataLength});
}

std::optional<TQNIDNSMX> TQNIDNSRecord::MX() const {
  if (Type != 15) return std::nullopt;
  const dns::Reader r(FMessage.Bytes());
  return dns::read_mx({r, FDataAt, FDataLength});
}

std::optional<TQNIDNSSRV> TQNIDNSRecord::SRV() const {
  if (Type != 33) return std::nullopt;
  const dns::Reader r(FMessage.Bytes());
  return dns::read_srv({r, FDataAt, FDataLength});
}

std::optional<std::vector<String>> TQNIDNSRecord::TXT() const {
  if (Type != 16 && Type != 99) return std::nullopt;
  const dns::Reader r(FMessage.Bytes());
  return dns::read_strings({r, FDataAt, FDataLength});
}

std::optional<TQNIDNSSOA> TQNIDNSRecord::SOA() const {
  if (Type != 6) return std::nullopt;
  const dns::Reader r(FMessage.Bytes());
  return dns::read_soa({r, FDataAt, FDataLength});
}

// ---------------------------------------------------------------------------------------------
// Decoding

// Reads a message into questions and records that refer into it.
struct TQNIDNSReplyReader {
  TQNIDNSMessage Message;
  dns::Reader R;
  std::uint16_t Counts[4] = {};

  explicit TQNIDNSReplyReader(const String& bytes) : Message(ToBytes(bytes)), R(Message.Bytes()) {}

  // The header and the questions; `at` moves past them.
  bool ReadHead(std::size_t& at, TQNIDNSReply& reply, String& error) {
    reply = TQNIDNSReply();
    error.clear();
    at = 0;
    if (!R.U16(at, reply.ID) || !R.U16(at, reply.Flags) || !R.U16(at, Counts[0]) || !R.U16(at, Counts[1]) ||
        !R.U16(at, Counts[2]) || !R.U16(at, Counts[3]))
      return dns::fail(error, u"the reply is shorter than a DNS header");
    // Sized from the questions that read, not from the count the header claims.
    std::size_t found = 0;
    for (std::size_t p = at; found < Counts[0] && R.Name(p, nullptr, error) && p + 4 <= R.Size(); p += 4)
      ++found;
    error.clear();
    reply.Questions.reserve(found);
    for (unsigned i = 0; i < Counts[0]; ++i) {
      TQNIDNSQuestion q;
      q.FNameAt = static_cast<std::uint32_t>(at);
      if (!R.Name(at, nullptr, error)) return false;
      if (!R.U16(at, q.Type) || !R.U16(at, q.Class)) return dns::fail(error, u"a question is cut short");
      q.FMessage = Message;
      reply.Questions.push_back(std::move(q));
    }
    return true;
  }

  // A record's place in the message; the caller gives it the message when it keeps it.
  bool ReadRecord(std::size_t& at, TQNIDNSRecord& rec, String& error) const {
    rec.FNameAt = static_cast<std::uint32_t>(at);
    if (!R.Name(at, nullptr, error)) return false;
    if (!R.U16(at, rec.Type) || !R.U16(at, rec.Class) || !R.U32(at, rec.TTL) || !R.U16(at, rec.FDataLength))
      return dns::fail(error, u"a record is cut short");
    if (at + rec.FDataLength > R.Size())
      return dns::fail(error, u"a record's data runs past the end of the message");
    rec.FDataAt = static_cast<std::uint32_t>(at);
    at += rec.FDataLength;
    return true;
  }

  // Each record of the three sections from `at`, up to the header's counts, to `each(section,
  // record)`; false at the first that does not read.
  template <class Each>
  bool ForEachRecord(std::size_t at, String& error, Each&& each) const {
    for (int s = 0; s < 3; ++s)
      for (unsigned i = 0; i < Counts[s + 1]; ++i) {
        TQNIDNSRecord rec;
        if (!ReadRecord(at, rec, error)) return false;
        each(s, rec);
      }
    return true;
  }

  // The header and the questions into `reply`, then each record to `onRecord`; `keep` sizes
  // the record lists of `reply` first, from the records that really read (a walk before the
  // one that hands them out), never from what the header claims, nor with the slack of doubling.
  template <class Sink>
  bool Decode(TQNIDNSReply& reply, String& error, bool keep, Sink&& onRecord) {
    std::size_t at = 0;
    if (!ReadHead(at, reply, error)) return false;
    if (keep) {
      std::size_t found[3] = {};
      String ignored;
      ForEachRecord(at, ignored, [&](int s, const TQNIDNSRecord&) { ++found[s]; });
      reply.Answers.reserve(found[0]);
      reply.Authority.reserve(found[1]);
      reply.Additional.reserve(found[2]);
    }
    return ForEachRecord(at, error, [&](int s, TQNIDNSRecord& rec) {
      rec.FMessage = Message;
      onRecord(s, rec);
    });
  }
};

bool DNSReplyMatches(const String& Query, const String& Reply) {
  TQNIDNSReply asked, got;
  std::size_t at = 0;
  String error;
  if (!TQNIDNSReplyReader(Query).ReadHead(at, asked, error) ||
      !TQNIDNSReplyReader(Reply).ReadHead(at, got, error))
    return false;
  if (got.ID != asked.ID || !(got.Flags & 0x8000u)) return false;
  if (got.Questions.empty()) return got.RCode() != 0;
  // A server that answers only the first of several questions echoes only that one.
  if (got.Questions.size() > asked.Questions.size()) return false;
  for (std::size_t i = 0; i < got.Questions.size(); ++i) {
    const TQNIDNSQuestion &a = asked.Questions[i], &g = got.Questions[i];
    // Names may come back in another case (RFC 4343; the 0x20 trick of resolvers).
    if (a.Type != g.Type || a.Class != g.Class || UpperCase(a.Name()) != UpperCase(g.Name())) return false;
  }
  return true;
}

bool DNSDecodeReply(const String& Bytes, TQNIDNSReply& Reply, String& Error) {
  std::vector<TQNIDNSRecord>* sections[3] = {&Reply.Answers, &Reply.Authority, &Reply.Additional};
  return TQNIDNSReplyReader(Bytes).Decode(
      Reply, Error, true, [&](int s, TQNIDNSRecord& rec) { sections[s]->push_back(std::move(rec)); });
}

bool DNSDecodeReply(const String& Bytes, TQNIDNSReply& Reply, String& Error,
                    const TQNIDNSRecordSink& OnRecord) {
  return TQNIDNSReplyReader(Bytes).Decode(Reply, Error, false, OnRecord);
}

}  // namespace qninet
