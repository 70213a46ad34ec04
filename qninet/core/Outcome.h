#pragma once
// How an operation below the components ended. Sources, downloads, service calls and the
// socket exchanges all return this one type, and each component turns its four cases into what
// its own contract promises (a `Status`, `LastError`, an exception).

#include <cstdint>
#include <utility>

#include "qninet/rtl/SysUtils.h"

namespace qninet {

enum class TQNIOutcomeKind : std::uint8_t { Found, NotFound, Failed, Cancelled };

/// A kind and, for anything but `Found`, the text that says why, fit to show a user.
class [[nodiscard]] TQNIOutcome {
public:
  TQNIOutcome() = default;  ///< found
  /// The thing was found.
  static TQNIOutcome Found() { return {}; }
  /// The remote thing does not exist; `text` says what.
  static TQNIOutcome NotFound(String text) { return {TQNIOutcomeKind::NotFound, std::move(text)}; }
  /// The operation failed; `text` says why.
  static TQNIOutcome Failed(String text) { return {TQNIOutcomeKind::Failed, std::move(text)}; }
  /// The user or the application cancelled; `text` says where.
  static TQNIOutcome Cancelled(String text) { return {TQNIOutcomeKind::Cancelled, std::move(text)}; }

  /// Found, not found, failed or cancelled.
  TQNIOutcomeKind Kind() const { return FKind; }
  /// What happened, for the user; empty when found.
  const String& Text() const { return FText; }
  /// Whether the thing was found.
  bool IsFound() const { return FKind == TQNIOutcomeKind::Found; }
  /// Whether the thing was found.
  explicit operator bool() const { return IsFound(); }

private:
  TQNIOutcome(TQNIOutcomeKind kind, String text) : FKind(kind), FText(std::move(text)) {}
  TQNIOutcomeKind FKind = TQNIOutcomeKind::Found;
  String FText;
};

}  // namespace qninet
