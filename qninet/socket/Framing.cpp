#include "qninet/socket/Framing.h"

#include <array>
#include <cstring>

#include "qninet/sys/Memory.h"

namespace qninet {

TReceiveEnd receive_framed(const TSocketReader& read, TFramingRule& rule) {
  std::array<char, kReceiveChunk> buffer;
  for (;;) {
    if (rule.Complete()) return reComplete;
    if (rule.TooLong()) return reTooLong;
    std::memset(buffer.data(), 0, buffer.size());
    const Integer n = read(buffer.data(), kReceiveChunk);
    if (n == 0) return rule.EndsAtClose() ? reComplete : reClosed;
    if (n < 0) return reFailed;
    rule.Take(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
  }
}

// ---------------------------------------------------------------------------------------------
// To the peer's close

TReadToClose::TReadToClose() = default;
TReadToClose::~TReadToClose() = default;

void TReadToClose::add_block() {
  FCapacity = FBlocks.empty() ? 2 * static_cast<std::size_t>(kReceiveChunk)
                              : std::min<std::size_t>(FCapacity * 2, 64u << 20);
  FBlocks.push_back(Block{std::unique_ptr<char[]>(new char[FCapacity]), 0});
  sys::advise_huge_pages(FBlocks.back().Data.get(), FCapacity);
}

void TReadToClose::Take(std::string_view chunk) {
  FTotal += chunk.size();
  while (!chunk.empty()) {
    if (FBlocks.empty() || FBlocks.back().Used == FCapacity) add_block();
    Block& block = FBlocks.back();
    const std::size_t k = std::min(chunk.size(), FCapacity - block.Used);
    std::memcpy(block.Data.get() + block.Used, chunk.data(), k);
    block.Used += k;
    chunk.remove_prefix(k);
  }
}

String TReadToClose::TakeText() {
  String text;
  text.reserve(FTotal);
  sys::advise_huge_pages(text.data(), FTotal * sizeof(char16_t));
  std::array<char16_t, 8192> wide;
  for (auto& block : FBlocks) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(block.Data.get());
    for (std::size_t at = 0; at < block.Used;) {
      const std::size_t k = std::min(wide.size(), block.Used - at);
      for (std::size_t i = 0; i < k; ++i) wide[i] = bytes[at + i];
      text.append(wide.data(), k);
      at += k;
    }
    block.Data.reset();
  }
  FBlocks.clear();
  FTotal = 0;
  return text;
}

// ---------------------------------------------------------------------------------------------
// A length-prefixed frame

namespace {
std::size_t frame_length(std::string_view held) {
  return (static_cast<std::size_t>(static_cast<unsigned char>(held[0])) << 8) |
         static_cast<unsigned char>(held[1]);
}
}  // namespace

bool TLengthPrefixedFrame::Complete() const {
  return FHeld.size() >= 2 && FHeld.size() >= 2 + frame_length(FHeld);
}

std::uint64_t TLengthPrefixedFrame::Expected() const { return FHeld.size() < 2 ? 0 : frame_length(FHeld); }

String TLengthPrefixedFrame::Message() const {
  if (!Complete()) return String();
  return FromBytes(std::string_view(FHeld).substr(2, frame_length(FHeld)));
}

// ---------------------------------------------------------------------------------------------
// A complete SMTP reply

namespace smtp {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool continues(std::string_view line) {
  return line.size() >= 4 && is_digit(line[0]) && is_digit(line[1]) && is_digit(line[2]) && line[3] == '-';
}

}  // namespace

std::optional<std::size_t> complete_reply_length(std::string_view received) {
  std::size_t pos = 0;
  while (pos < received.size()) {
    const auto nl = received.find('\n', pos);
    if (nl == std::string_view::npos) return std::nullopt;
    auto line = received.substr(pos, nl - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    pos = nl + 1;
    if (!continues(line)) return pos;
  }
  return std::nullopt;
}

}  // namespace smtp

std::size_t TSmtpReplyFrame::reply_end() const {
  for (;;) {
    const auto nl = FHeld.find('\n', FSearched);
    if (nl == std::string::npos) {
      FSearched = FHeld.size();
      return 0;
    }
    auto line = std::string_view(FHeld).substr(FLineStart, nl - FLineStart);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!smtp::continues(line)) {
      FSearched = nl;  // asking again finds the same end at once
      return nl + 1;
    }
    FLineStart = FSearched = nl + 1;
  }
}

void TSmtpReplyFrame::Clear() {
  FHeld.clear();
  FLineStart = FSearched = 0;
}

std::string TSmtpReplyFrame::TakeReply() {
  const std::size_t length = reply_end();
  if (length == 0) return std::string();
  std::string reply = FHeld.substr(0, length);
  FHeld.erase(0, length);
  FLineStart = FSearched = 0;
  return reply;
}

}  // namespace qninet
