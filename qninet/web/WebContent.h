#pragma once
// What the content components (the feed parser, the information extractor) share: a private
// temporary file for each component's download, and the download read back.

#include <string>

#include "qninet/rtl/SysUtils.h"

namespace qninet {

/// The extension (with its dot) of the last path segment of a remote name, without its query
/// or fragment; empty unless it is 1 to 10 ASCII letters and digits, so a dotted folder or a
/// query cannot steer the temporary file elsewhere.
QNINET_API String TempFileExtension(const String& RemoteFileName);

/// A number no other component of this process has, for `PrivateTempFileName`.
QNINET_API int NewTempFileSlot();

/// "tmpSLOT" and the extension of `RemoteFileName` in the process's private temporary folder
/// (mode 0700): the same name for the same slot on every run. Raises `EInOutError` when the
/// folder cannot be made.
QNINET_API String PrivateTempFileName(int Slot, const String& RemoteFileName);

/// The whole content of a local file; raises `EFOpenError` when it cannot be opened.
QNINET_API std::string ReadLocalBytes(const String& FileName);

/// Removes a local file when it exists.
QNINET_API void DeleteLocalFile(const String& FileName);

}  // namespace qninet
