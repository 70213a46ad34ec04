#pragma once
// The local side of a download: a remote file read from a source into a temporary file beside
// the local file, flushed, stamped and renamed over it in one step, so the local file is
// either the old one or the whole new one.

#include <atomic>
#include <cstdint>
#include <functional>

#include "qninet/rtl/DateUtils.h"
#include "qninet/web/WebSource.h"

namespace qninet {

/// Where to download the source's object to, and how.
struct QNINET_API TQNDownloadJob {
  String LocalFileName;
  std::uint64_t ExpectedSize = 0;  ///< for progress (0 or `kQNIUnknownSize`: unknown)
  TFileTime RemoteTime = 0;        ///< given to the new file; 0: none
  /// Keep a partial download as LOCAL.part (stamped with `RemoteTime`) and continue one that
  /// belongs to this same remote version.
  bool Resume = false;
  const std::atomic<bool>* Cancel = nullptr;
  /// Called after each block with the bytes of this run and `ExpectedSize`; may set abort.
  std::function<void(std::uint64_t current, std::uint64_t maximum, bool& abort)> Progress;
};

/// Reads the source's object in blocks of `kQNIBlockSize` and replaces the local file with it.
/// Failed (the text says why) when the source could not be opened or read, `Cancelled` when
/// the progress handler or the cancel flag stopped it; either way the local file stays as it
/// was and no temporary file is left (with `Resume` the partial file is kept). Raises
/// `EFCreateError`, `EWriteError` or `EFOpenError` for the local side, naming the file.
QNINET_API TQNIOutcome DownloadToLocalFile(TQNWebSource& source, const TQNDownloadJob& job);

}  // namespace qninet
