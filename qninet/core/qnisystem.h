#pragma once
// System look-ups of unit qniutil: the content type of a file and the deletion of the running
// program's own executable.

#include "qninet/rtl/SysUtils.h"

namespace qninet {

/// The content type the system registers for the extension of `FileName` (the text from the
/// last "." of its last path component; compared ignoring case); "application/octet-stream"
/// when the name is empty, has no extension or none is registered. Never raises.
QNINET_API String ContentTypeByFile(const String& FileName);

/// Writes a shell script beside the running executable, named as the executable with ".sh"
/// replacing its extension, that deletes the executable until it is gone and then itself, and
/// starts it with /bin/sh detached, at idle priority, without a terminal; returns at once.
/// Raises `EFCreateError` when the script cannot be written; a failed start is ignored.
QNINET_API void DeleteExe();

/// The text of the clean-up script for executable `ExeName` and script `ScriptName`: both
/// paths quoted for the shell, so blanks and quotes in folder names delete nothing else.
QNINET_API String DeleteExeScript(const String& ExeName, const String& ScriptName);

/// `S` as one word of a POSIX shell: in single quotes, each single quote written as '\''.
QNINET_API String ShellQuote(const String& S);

}  // namespace qninet
