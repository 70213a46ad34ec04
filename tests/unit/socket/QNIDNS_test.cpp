#include "qninet/socket/QNIDNS.h"

#include <gtest/gtest.h>

#include <cstring>

#include "harness/ScriptedServer.h"

using namespace qninet;
using qninet::harness::Script;
using qninet::harness::ScriptedServer;

namespace {

std::string Name(std::initializer_list<std::string> labels) {
  std::string out;
  for (const auto& l : labels) {
    out += static_cast<char>(l.size());
    out += l;
  }
  return out + '\0';
}

std::string U16(unsigned v) { return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)}; }
std::string U32(unsigned v) { return U16(v >> 16) + U16(v & 0xFFFF); }

// A message header: identifier, flags, the four counts.
std::string ReplyHeader(unsigned flags, unsigned qd, unsigned an, unsigned ns, unsigned ar) {
  return U16(0x125E) + U16(flags) + U16(qd) + U16(an) + U16(ns) + U16(ar);
}

std::string Record(const std::string& name, unsigned type, unsigned ttl, const std::string& data) {
  return name + U16(type) + U16(1) + U32(ttl) + U16(static_cast<unsigned>(data.size())) + data;
}

// A resolver aimed at a loopback server.
void Aim(TQNIDNSResolver& r, const ScriptedServer& server, TQNIDNSRequests requests, const String& domain) {
  r.SetHost(u"127.0.0.1");
  r.SetPort(server.Port());
  r.SetRequests(requests);
  r.SetDomain(domain);
}

bool Decode(const std::string& m, TQNIDNSReply& reply) {
  String error;
  const bool ok = DNSDecodeReply(FromBytes(m), reply, error);
  EXPECT_EQ(ok, error.empty()) << ToUtf8(error);
  // Handed out one at a time, the records are the ones kept, in order.
  TQNIDNSReply header;
  std::vector<String> lines;
  EXPECT_EQ(DNSDecodeReply(FromBytes(m), header, error,
                           [&](int s, TQNIDNSRecord& r) { lines.push_back(IntToStr(s) + DNSRecordLine(r)); }),
            ok);
  std::vector<String> kept;
  const std::vector<TQNIDNSRecord>* sections[] = {&reply.Answers, &reply.Authority, &reply.Additional};
  for (int s = 0; s < 3; ++s)
    for (const TQNIDNSRecord& r : *sections[s]) kept.push_back(IntToStr(s) + DNSRecordLine(r));
  if (ok) {
    EXPECT_EQ(lines, kept);
  }
  return ok;
}

}  // namespace

// The questions in the order of the enumeration, each with its code, a pointer question's name
// reversed under in-addr.arpa. (Pointer questions of both families: the peers' rows beside dig.)
TEST(DnsQuery, QuestionsInTheOrderOfTheEnumeration) {
  TQNIDNSRequests all;
  for (int i = 0; i <= irMailB; ++i) all.Include(static_cast<TQNIDNSRequest>(i));
  const unsigned codes[] = {255, 1, 2, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 252, 253};
  std::string expected = ReplyHeader(0x0100, 17, 0, 0, 0);
  for (unsigned code : codes) {
    expected += code == 12 ? Name({"host", "example", "in-addr", "arpa"}) : Name({"example", "host"});
    expected += U16(code) + U16(1);
  }
  EXPECT_EQ(ToBytes(DNSBuildQuery(all, u"example.host")), expected);
}

// A type's name in any case gives its request, whose question asks for the type's code. (The
// questions in the enumeration's order: the test above and fuzz/dns_fuzz.cpp's query check.)
TEST(DnsQuery, TypeNamesAndCodes) {
  const std::tuple<TQNIDNSRequest, const char16_t*, unsigned> cases[] = {
      {irName, u"cname", 5},     {irAll, u"ANY", 255},    {irText, u"txt", 16}, {irAAAA, u"aaaa", 28},
      {irSRV, u"SRV", 33},       {irNAPTR, u"NAPTR", 35}, {irDS, u"ds", 43},    {irRRSIG, u"RRSIG", 46},
      {irDNSKEY, u"DNSKEY", 48}, {irCAA, u"caa", 257}};
  for (const auto& [request, name, code] : cases) {
    SCOPED_TRACE(ToUtf8(name));
    TQNIDNSRequest r = irA;
    EXPECT_TRUE(DNSRequestFromName(name, r) && r == request);
    EXPECT_EQ(ToBytes(DNSBuildQuery({request}, u"t")),
              ReplyHeader(0x0100, 1, 0, 0, 0) + Name({"t"}) + U16(code) + U16(1));
  }
  TQNIDNSRequest r = irA;
  EXPECT_FALSE(DNSRequestFromName(u"TLSA", r));
}

TEST(DnsQuery, LabelEdgeCases) {
  EXPECT_EQ(DNSBuildQuery({irA}, u"www.example.com."), DNSBuildQuery({irA}, u"www.example.com"));
  EXPECT_EQ(ToBytes(DNSBuildQuery({irA}, u"a..b")),
            ReplyHeader(0x0100, 1, 0, 0, 0) + Name({"a", "", "b"}) + U16(1) + U16(1));
  const String long300(300, u'x');
  const std::string q = ToBytes(DNSBuildQuery({irA}, long300));
  EXPECT_EQ(static_cast<unsigned char>(q[12]), 300 % 256);  // a long label keeps the low byte
  // Nothing to ask, or no server to ask, gives an empty query (which sends nothing: the engine's
  // empty query row).
  EXPECT_TRUE(DNSBuildQuery({}, u"example.com").empty());
  EXPECT_TRUE(DNSBuildQuery({irA}, u"").empty());
  TQNIDNSResolver none(nullptr);
  none.SetRequests({irA});
  none.SetDomain(u"example.com");
  EXPECT_TRUE(none.GetQuery().empty());
}

// (The length-prefixed exchange is dns_transport_test's TCP row against dnsmasq; a reply cut
// short is the socket fault table's "close mid-answer" row.)
TEST(DnsResolver, WithoutLengthPrefixTheEngineFramingIsKept) {
  const std::string query = ToBytes(DNSBuildQuery({irMX}, u"test"));
  const std::string block = "Proxy-Connection: Keep-Alive\r\n\r\n";
  ScriptedServer server(
      Script().ExpectBytes(query.size() + block.size()).Send(std::string("\x12\x5E\x81\x80", 4)).Close());
  TQNIDNSResolver r(nullptr);
  r.SetLengthPrefix(false);
  Aim(r, server, {irMX}, u"test");
  EXPECT_EQ(ToBytes(r.Execute()), std::string("\x12\x5E\x81\x80", 4));
  EXPECT_EQ(server.Received(0), query + block);
}

// Whole record lines, compressed names inside record data, and the types no peer serves: HINFO,
// a type without a name, and the OPT record on the root. (The other types: the peers' rows.)
TEST(DnsDecode, RecordLinesWithCompression) {
  std::string m = ReplyHeader(0x8580, 1, 3, 0, 1) + Name({"www", "test"}) + U16(255) + U16(1);
  m += Record("\xC0\x10", 15, 3600, U16(10) + Name({"mail"}).substr(0, 5) + "\xC0\x10");
  m += Record("\xC0\x10", 13, 10, "\003cpu\002os");
  m += Record("\xC0\x0C", 65280, 10, "\xAB\xCD\xEF");
  m += Record(std::string(1, '\0'), 41, 0, "");
  TQNIDNSReply reply;
  ASSERT_TRUE(Decode(m, reply));
  ASSERT_EQ(reply.Questions.size(), 1u);
  EXPECT_EQ(reply.Questions[0].Name(), u"www.test.");
  std::string lines;
  for (const TQNIDNSRecord& r : reply.Answers) lines += ToUtf8(DNSRecordLine(r)) + "|";
  EXPECT_EQ(lines,
            "test. 3600 IN MX 10 mail.test.|test. 10 IN HINFO \"cpu\" \"os\"|"
            "www.test. 10 IN TYPE65280 \\# 3 ABCDEF|");
  ASSERT_EQ(reply.Additional.size(), 1u);
  EXPECT_EQ(reply.Additional[0].Name(), u".");
  EXPECT_EQ(reply.Additional[0].Data(), u"\\# 0");
}

// (Names whose pointers loop or point past the end: the socket fault table's DNS rows, decoded
// by the same DNSDecodeReply.)
TEST(DnsDecode, MalformedRepliesAreRefused) {
  std::string longName;
  for (int i = 0; i < 5; ++i) longName += std::string(1, 60) + std::string(60, 'x');
  const std::string question = ReplyHeader(0x8180, 1, 0, 0, 0);
  const std::pair<const char*, std::string> cases[] = {
      {"short header", "\x12\x5E\x81"},
      {"record data past the end", ReplyHeader(0x8180, 0, 1, 0, 0) + std::string(1, '\0') + U16(1) + U16(1) +
                                       U32(1) + U16(4) + "\x01\x02"},
      {"fewer records than announced",
       ReplyHeader(0x8180, 0, 2, 0, 0) + Record(std::string(1, '\0'), 1, 1, "1234")},
      {"name over 255 bytes", question + longName + '\0' + U16(1) + U16(1)}};
  for (const auto& [what, m] : cases) {
    TQNIDNSReply reply;
    String error;
    EXPECT_FALSE(DNSDecodeReply(FromBytes(m), reply, error)) << what;
    EXPECT_FALSE(error.empty()) << what;
  }
}

TEST(DnsDecode, RCodeNameAndNamesEscaped) {
  TQNIDNSReply reply;
  ASSERT_TRUE(Decode(
      ReplyHeader(0x8183, 1, 0, 0, 0) + std::string("\003a.b\002c\001\000", 8) + U16(1) + U16(1), reply));
  EXPECT_EQ(reply.RCode(), 3u);  // its name: the program's NXDOMAIN rows
  EXPECT_EQ(ToUtf8(reply.Questions[0].Name()), "a\\.b.c\\001.");
}

// One record's data as dig prints it; data of the wrong length for its type falls back to the
// generic form. (CAA, NAPTR, DS and DNSKEY of good length are read beside dig in beyond_test.)
TEST(DnsDecode, RecordDataAsDigPrintsIt) {
  const std::tuple<unsigned, const char*, const char*> cases[] = {
      // IPv6 in the shortest form: the first of two equal zero runs is the one shortened
      // (fd00::5 and ::1.2.3.4: the peers' rows)
      {28, "00000000000000000000000000000001", "::1"},
      {28, "00000000000000000000000000000000", "::"},
      {28, "20010db8000000000001000000000001", "2001:db8::1:0:0:1"},
      {28, "00000000000000000000ffff01020304", "::ffff:1.2.3.4"},
      {28, "00000000000000000000000000000100", "::100"},  // not IPv4-compatible: a longer zero run
      {28, "20010db8000100000001000000000001", "2001:db8:1:0:1::1"},
      {1, "010203", "\\# 3 010203"},
      // WKS: the address, the protocol number, the port of each bit set
      {11, "0A01020306E0000000000000000000000000000001", "10.1.2.3 6 0 1 2 127"},
      {11, "C0A8000111000000000000000000008040", "192.168.0.1 17 80 89"},
      {11, "0A00000106", "10.0.0.1 6"},
      {11, "0A000001", "\\# 4 0A000001"},  // no protocol
      {46,
       "001C0D0300000E106553F1006539B900EC450474657374006465666768696A6B6C6D6E6F707172737475767778797A7B7C7D7"
       "E7F"
       "808182838485868788898A8B8C8D8E8F909192939495969798999A9B9C9D9E9FA0A1A2A3",
       "AAAA 13 3 3600 20231114221320 20231026005528 60485 test. "
       "ZGVmZ2hpamtsbW5vcHFyc3R1dnd4eXp7fH1+f4CBgoOEhYaHiImKi4yN jo+QkZKTlJWWl5iZmpucnZ6foKGiow=="},
      {43, "EC450D01", "\\# 4 EC450D01"},
      {257, "0000", "\\# 2 0000"},
      {257, "0005697373", "\\# 5 0005697373"},
      {35, "0064000A0175", "\\# 6 0064000A0175"},
      {46, "001C0D0300000E10", "\\# 8 001C0D0300000E10"}};
  for (const auto& [type, hexData, dig] : cases) {
    SCOPED_TRACE(dig);
    std::string data;
    for (std::size_t i = 0; i + 1 < std::strlen(hexData); i += 2)
      data += static_cast<char>(std::stoi(std::string(hexData + i, 2), nullptr, 16));
    TQNIDNSReply reply;
    ASSERT_TRUE(Decode(ReplyHeader(0x8580, 0, 1, 0, 0) + Record(Name({"t"}), type, 0, data), reply));
    ASSERT_EQ(reply.Answers.size(), 1u);
    EXPECT_EQ(ToUtf8(reply.Answers[0].Data()), dig);
  }
}

// Texts are read as inet_pton reads them: the DNS fuzz target compares the two on arbitrary text
// and on its corpus of addresses. What once differed keeps its rows: a dotted tail's octet with a
// leading zero.
TEST(DnsQuery, IPv6AddressTextForms) {
  std::uint8_t bytes[16] = {};
  ASSERT_TRUE(DNSParseIPv6(u"1:2:3:4:5:6:10.0.0.1", bytes));
  EXPECT_EQ(bytes[11] * 1000 + bytes[12] * 10 + bytes[15], 6101);
  for (const char16_t* bad : {u"::ffff:71.2.00.1", u"::1.02.3.4"})
    EXPECT_FALSE(DNSParseIPv6(bad, bytes)) << ToUtf8(bad);
}
