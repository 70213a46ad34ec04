#pragma once
// The types the web engine's components and sources share.

#include <cstddef>
#include <cstdint>

#include "qninet/rtl/TypInfo.h"

namespace qninet {

enum TQNIService : std::uint8_t { isHTTP, isHTTPS, isFTP, isNetwork };
QNINET_DECLARE_ENUM_INFO(TQNIService)
enum TQNIStatus : std::uint8_t { isInProgress, isFinished, isFailed, isSkipped, isNotFound };
QNINET_DECLARE_ENUM_INFO(TQNIStatus)
enum TQNIAction : std::uint8_t {
  iaIdle,
  iaConnecting,
  iaConnected,
  iaDisconnecting,
  iaDisconnected,
  iaFileSearch,
  iaFileFound,
  iaComparing,
  iaCompared,
  iaDownloading,
  iaDownloaded
};
QNINET_DECLARE_ENUM_INFO(TQNIAction)

/// Hands every web transfer's trace to `trace`, process-wide (a program's -v): `kind` '*' for
/// the engine's notes (endpoint, TLS version, certificate), '>' for the headers or FTP commands
/// sent, '<' for those received; `data` is not NUL-terminated. nullptr (the default) stops it.
QNINET_API void SetWebTransferTrace(void (*trace)(char kind, const char* data, std::size_t size));

/// The size that stands for a length the server gave but that is no number.
inline constexpr std::uint64_t kQNIUnknownSize = UINT64_MAX;
/// The engine's block: every download reads and reports progress in blocks of this size.
inline constexpr std::size_t kQNIBlockSize = 2050;

}  // namespace qninet
