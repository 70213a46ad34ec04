// The DNS reply decoder on arbitrary messages: it fails or gives records that fit in the
// message, and every record renders as a line. A query built for a name decodes back to its
// questions, and IPv6 texts are read as the C library reads them.

#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzCheck.h"
#include "qninet/socket/QNIDNS.h"

using namespace qninet;

namespace {

// The smallest record: a root name, type, class, TTL and data length.
constexpr std::size_t kMinRecord = 11;
// A name of up to 255 bytes written with a "\DDD" escape per byte at worst.
constexpr std::size_t kMaxNameText = 4 * 255 + 1;

void check_records(const std::vector<TQNIDNSRecord>& records, std::size_t messageSize) {
  for (const TQNIDNSRecord& r : records) {
    const String name = r.Name(), raw = r.RawData(), data = r.Data();
    FUZZ_CHECK(!name.empty() && name.back() == u'.' && name.size() <= kMaxNameText);
    FUZZ_CHECK(raw.size() + kMinRecord <= messageSize);
    // Data names may point elsewhere in the message, each at most a whole name.
    FUZZ_CHECK(data.size() <= 4 * raw.size() + kMaxNameText * (raw.size() / 2 + 2) + 64);
    FUZZ_CHECK(!DNSRecordLine(r).empty());
  }
}

void check_reply(std::string_view bytes) {
  TQNIDNSReply reply;
  String error;
  if (!DNSDecodeReply(FromBytes(bytes), reply, error)) {
    FUZZ_CHECK(!error.empty());
    return;
  }
  const std::size_t records = reply.Answers.size() + reply.Authority.size() + reply.Additional.size();
  FUZZ_CHECK(12 + 5 * reply.Questions.size() + kMinRecord * records <= bytes.size());
  for (const TQNIDNSQuestion& q : reply.Questions) {
    const String name = q.Name();
    FUZZ_CHECK(!name.empty() && name.back() == u'.' && name.size() <= kMaxNameText);
  }
  check_records(reply.Answers, bytes.size());
  check_records(reply.Authority, bytes.size());
  check_records(reply.Additional, bytes.size());
  (void)DNSRCodeName(reply.RCode());
}

// A host name of letters, digits and hyphens in labels of 1 to 63, 253 at most in all.
bool plain_name(std::string_view name) {
  if (name.empty() || name.size() > 253) return false;
  std::size_t label = 0;
  for (const char c : name) {
    if (c == '.') {
      if (label == 0) return false;
      label = 0;
    } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-') {
      if (++label > 63) return false;
    } else {
      return false;
    }
  }
  return label > 0;
}

void check_query(std::uint32_t bits, std::string_view name) {
  if (!plain_name(name)) return;
  TQNIDNSRequests requests = TQNIDNSRequests::FromBits(bits & ((1u << (irCAA + 1)) - 1));
  requests.Exclude(irPTR);  // asks about the reversed name
  const String query = DNSBuildQuery(requests, FromBytes(name));
  if (requests.Empty()) return FUZZ_CHECK(query.empty());
  TQNIDNSReply reply;
  String error;
  FUZZ_CHECK(DNSDecodeReply(query, reply, error));
  std::size_t q = 0;
  for (int r = irAll; r <= irCAA; ++r) {
    if (!requests.Contains(static_cast<TQNIDNSRequest>(r))) continue;
    FUZZ_CHECK(q < reply.Questions.size());
    FUZZ_CHECK(reply.Questions[q].Name() == FromBytes(name) + u".");
    FUZZ_CHECK(reply.Questions[q].Type == DNSRequestTypeCode(static_cast<TQNIDNSRequest>(r)));
    FUZZ_CHECK(reply.Questions[q].Class == 1);
    ++q;
  }
  FUZZ_CHECK(q == reply.Questions.size() && reply.Answers.empty());
}

void check_ipv6(std::string_view text) {
  const std::string terminated(text);
  if (terminated.find('\0') != std::string::npos) return;
  std::uint8_t ours[16];
  unsigned char theirs[16];
  const bool read = DNSParseIPv6(FromBytes(text), ours);
  const bool libc = inet_pton(AF_INET6, terminated.c_str(), theirs) == 1;
  FUZZ_CHECK(read == libc);
  if (read) FUZZ_CHECK(std::memcmp(ours, theirs, 16) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes = fuzz::bytes_of(data, size);
  check_reply(bytes);
  if (size >= 3) {
    const std::string_view rest = bytes.substr(3);
    const std::string_view line = rest.substr(0, rest.find('\n'));
    check_query(data[0] | data[1] << 8 | data[2] << 16, line);
    check_ipv6(line);
  }
  return 0;
}
