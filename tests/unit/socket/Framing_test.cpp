// The receive routine and its framing rules, fed by a scripted reader: where an answer ends,
// what it holds, and that no read is made once it is whole.

#include "qninet/socket/Framing.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "harness/Forked.h"
#include "qninet/socket/MailTypes.h"

using namespace qninet;

namespace {

enum Kind { ToClose, Frame, SmtpReply };

/// Hands out `chunks` one per read, then `last` (0: the peer closes, -1: an error) for ever.
struct ScriptedReader {
  std::vector<std::string> Chunks;
  Integer Last = 0;
  std::size_t Reads = 0;
  Integer operator()(void* buffer, Integer count) {
    if (Reads++ >= Chunks.size()) return Last;
    const std::string& c = Chunks[Reads - 1];
    EXPECT_LE(c.size(), static_cast<std::size_t>(count));
    std::memcpy(buffer, c.data(), c.size());
    return static_cast<Integer>(c.size());
  }
};

std::string bytes(const char* text, std::size_t n) { return std::string(text, n); }

}  // namespace

TEST(ReceiveFramed, EachRuleEndsWhereItsAnswerEnds) {
  struct Case {
    const char* Name;
    Kind Rule;
    std::vector<std::string> Chunks;
    Integer Last;
    TReceiveEnd End;
    std::string Answer;
    std::size_t Reads;
  };
  std::string large(100000, '\0');  // spans several of the growing blocks, every byte value
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7 + 1);
  std::vector<std::string> pieces;
  for (std::size_t at = 0; at < large.size(); at += 16386) pieces.push_back(large.substr(at, 16386));
  const Case cases[] = {
      {"close ends the answer", ToClose, {"ab", bytes("c\0d", 3)}, 0, reComplete, bytes("abc\0d", 5), 3},
      {"large answer", ToClose, pieces, 0, reComplete, large, pieces.size() + 1},
      {"read error keeps what came", ToClose, {"partial"}, -1, reFailed, "partial", 2},
      {"nothing at all", ToClose, {}, 0, reComplete, "", 1},
      {"frame, bytes after it dropped", Frame, {bytes("\0\3ab", 4), "cXYZ"}, 0, reComplete, "abc", 2},
      {"length split over reads", Frame, {bytes("\0", 1), "\2", "hi"}, 0, reComplete, "hi", 3},
      {"empty frame", Frame, {bytes("\0\0", 2)}, 0, reComplete, "", 1},
      {"frame cut short", Frame, {bytes("\0\5abc", 5)}, 0, reClosed, "", 2},
      {"frame read error", Frame, {}, -1, reFailed, "", 1},
      {"multi-line reply",
       SmtpReply,
       {"250-qninet.test\r\n250-AUTH LOG", "IN\r\n250 HELP\r\n354 next"},
       0,
       reComplete,
       "250-qninet.test\r\n250-AUTH LOGIN\r\n250 HELP\r\n",
       2},
      {"bare line feeds", SmtpReply, {"220 hi\n250 x\n"}, 0, reComplete, "220 hi\n", 1},
      {"code-only line", SmtpReply, {"250\r\n"}, 0, reComplete, "250\r\n", 1},
      {"reply without its line end", SmtpReply, {"220 ready"}, 0, reClosed, "", 2},
      {"continued and cut", SmtpReply, {"250-first\r\n250-sec"}, -1, reFailed, "", 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    ScriptedReader reader{c.Chunks, c.Last};
    const TSocketReader read = [&reader](void* b, Integer n) { return reader(b, n); };
    std::string answer;
    TReceiveEnd end{};
    if (c.Rule == ToClose) {
      TReadToClose rule;
      end = receive_framed(read, rule);
      answer = ToBytes(rule.TakeText());
      EXPECT_TRUE(rule.Empty());
    } else if (c.Rule == Frame) {
      TLengthPrefixedFrame rule;
      end = receive_framed(read, rule);
      answer = ToBytes(rule.Message());
    } else {
      TSmtpReplyFrame rule;
      end = receive_framed(read, rule);
      answer = rule.TakeReply();
    }
    EXPECT_EQ(end, c.End);
    EXPECT_EQ(answer, c.Answer);
    EXPECT_EQ(reader.Reads, c.Reads) << "a whole answer must not wait for another read";
  }
}

TEST(ReceiveFramed, SmtpRepliesHeldAfterOneAreTakenWithoutReading) {
  ScriptedReader reader{{"220 hi\r\n250-a\r\n250 b\r\n"}, 0};
  const TSocketReader read = [&reader](void* b, Integer n) { return reader(b, n); };
  TSmtpReplyFrame rule;
  ASSERT_EQ(receive_framed(read, rule), reComplete);
  EXPECT_EQ(rule.TakeReply(), "220 hi\r\n");
  ASSERT_EQ(receive_framed(read, rule), reComplete);
  EXPECT_EQ(rule.TakeReply(), "250-a\r\n250 b\r\n");
  EXPECT_EQ(reader.Reads, 1u);
  EXPECT_EQ(receive_framed(read, rule), reClosed);
}

TEST(ReceiveFramed, SmtpReplyWithoutAnEndGivesUpPastTheLimit) {
  std::size_t reads = 0;
  const TSocketReader endless = [&reads](void* b, Integer n) {
    ++reads;
    std::memset(b, 'x', static_cast<std::size_t>(n));
    return n;
  };
  TSmtpReplyFrame rule;
  EXPECT_EQ(receive_framed(endless, rule), reTooLong);
  EXPECT_EQ(reads, TSmtpReplyFrame::kMaxReply / kReceiveChunk + 1);
}

// Shapes that cost work growing with the square of their size, each in a child with a few
// seconds of processor time: a reply trickled in small reads, and a name of nested quotes.
TEST(ReceiveFramed, EveryShapeIsReadInLinearWork) {
  const auto trickled = [](const std::string& piece, std::size_t count, const std::string& end) {
    ScriptedReader reader{std::vector<std::string>(count, piece), 0};
    reader.Chunks.push_back(end);
    TSmtpReplyFrame rule;
    const bool whole =
        receive_framed([&reader](void* b, Integer n) { return reader(b, n); }, rule) == reComplete;
    return harness::CaseResult{whole && rule.TakeReply().size() >= piece.size() * count, ""};
  };
  const std::function<harness::CaseResult()> cases[] = {
      [&] { return trickled("220-x\r\n", 140000, "220 ok\r\n"); },  // every read rescanned all lines held
      [&] { return trickled("xx", 500000, "\r\n"); },               // and the line not yet ended
      [] {
        TQNIEMailAddress a;
        a.SetText(FromUtf8(std::string(1000000, '"') + " <a@x.org>"));
        return harness::CaseResult{a.Name().empty() && a.Address() == u"a@x.org", ToUtf8(a.Name())};
      }};
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto outcome = harness::RunForked(cases[i], 4);
    EXPECT_TRUE(outcome.Ran && outcome.Success) << "case " << i << ": " << outcome.Text;
  }
}
