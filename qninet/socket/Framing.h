#pragma once
// The one receive routine of the socket clients, and the framing rules that tell it when an
// answer is whole: at the peer's close, a length-prefixed frame, a complete SMTP reply.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qninet/rtl/SysUtils.h"

namespace qninet {

/// How a receive ended.
enum TReceiveEnd : std::uint8_t {
  reComplete,  ///< the rule holds a whole answer
  reClosed,    ///< the peer closed before the answer was whole
  reFailed,    ///< a read reported an error without raising
  reTooLong    ///< the rule holds more than it allows and still no whole answer
};

/// Tells the receive routine when the bytes handed to it make a whole answer, and keeps them.
class QNINET_API TFramingRule {
public:
  virtual ~TFramingRule() = default;
  /// Takes the next bytes, as read.
  virtual void Take(std::string_view chunk) = 0;
  /// Whether the bytes taken so far hold a whole answer.
  virtual bool Complete() const = 0;
  /// Whether the peer's close ends the answer (which is then whole) rather than cutting it short.
  virtual bool EndsAtClose() const { return false; }
  /// Whether the rule gives up waiting for the end.
  virtual bool TooLong() const { return false; }
};

/// Reads up to `Count` bytes into `Buffer`: the count read, 0 at the peer's close, < 0 on error.
using TSocketReader = std::function<Integer(void* Buffer, Integer Count)>;

/// The size of each read.
inline constexpr Integer kReceiveChunk = 16386;

/// Reads with `read`, `kReceiveChunk` bytes at most each time into a buffer cleared before each
/// read, and hands every chunk to `rule` until it holds a whole answer. The rule is asked first,
/// so an answer it already holds costs no read. Exceptions of `read` and `rule` pass through.
QNINET_API TReceiveEnd receive_framed(const TSocketReader& read, TFramingRule& rule);

/// Everything until the peer closes. The bytes are kept in blocks that grow to 64 MiB, and each
/// block is freed once widened, so a large answer peaks near its UTF-16 size plus its byte size
/// instead of the three copies that doubling one string would hold.
class QNINET_API TReadToClose : public TFramingRule {
public:
  TReadToClose();
  ~TReadToClose() override;
  void Take(std::string_view chunk) override;
  bool Complete() const override { return false; }
  bool EndsAtClose() const override { return true; }
  bool Empty() const { return FTotal == 0; }
  /// The answer, one character per byte; the rule is empty afterwards.
  String TakeText();

private:
  struct Block {
    std::unique_ptr<char[]> Data;
    std::size_t Used = 0;
  };
  void add_block();
  std::vector<Block> FBlocks;
  std::size_t FCapacity = 0;
  std::size_t FTotal = 0;
};

/// One message preceded by its length in two bytes, high byte first (DNS over TCP, RFC 1035
/// section 4.2.2).
class QNINET_API TLengthPrefixedFrame : public TFramingRule {
public:
  void Take(std::string_view chunk) override { FHeld.append(chunk); }
  bool Complete() const override;
  /// The message without its length field, one character per byte; bytes after it are dropped.
  String Message() const;
  /// Bytes of the message held so far, and the length its field announced (0 before it came).
  std::uint64_t Received() const { return FHeld.size() < 2 ? 0 : FHeld.size() - 2; }
  std::uint64_t Expected() const;

private:
  std::string FHeld;
};

namespace smtp {
/// The length of the first complete reply at the start of `received` (through the CRLF or LF
/// of its last line: a line that is not "NNN-..."), or nothing while it is incomplete.
QNINET_API std::optional<std::size_t> complete_reply_length(std::string_view received);
}  // namespace smtp

/// One SMTP reply, whole at its first line that is not "NNN-..." (RFC 5321 section 4.2.1).
/// Bytes after it stay for the next reply; more than 1 MiB without an end is too long.
class QNINET_API TSmtpReplyFrame : public TFramingRule {
public:
  void Take(std::string_view chunk) override { FHeld.append(chunk); }
  bool Complete() const override { return reply_end() != 0; }
  bool TooLong() const override { return FHeld.size() > kMaxReply; }
  /// Removes the first whole reply from the bytes held and returns it; empty when there is none.
  std::string TakeReply();
  /// Whether no byte is held.
  bool Empty() const { return FHeld.empty(); }
  /// Forgets every byte held (a new connection).
  void Clear();

  static constexpr std::size_t kMaxReply = 1024 * 1024;

private:
  /// The length of the first whole reply held, or 0. Each call goes on where the last stopped,
  /// so a reply trickled in small reads is looked at once, not once per read.
  std::size_t reply_end() const;
  std::string FHeld;
  mutable std::size_t FLineStart = 0;  // the first line of the reply not yet known to continue it
  mutable std::size_t FSearched = 0;   // bytes from there already searched for the line's end
};

}  // namespace qninet
