#include "qninet/core/qnisystem.h"

#include <string>

#include "qninet/platform/ContentTypes.h"
#include "qninet/platform/Files.h"
#include "qninet/platform/Process.h"
#include "qninet/rtl/Streams.h"

namespace qninet {

String ContentTypeByFile(const String& FileName) {
  const String def = u"application/octet-stream";
  if (FileName.empty()) return def;
  const String ext = ExtractFileExt(FileName);
  if (ext.size() < 2) return def;
  const std::string found = platform::content_type_of_extension(ToUtf8(StringView(ext).substr(1)));
  return found.empty() ? def : FromUtf8(found);
}

String ShellQuote(const String& S) {
  String result = u"'";
  for (char16_t c : S) {
    if (c == u'\'') result += u"'\\''";
    else result += c;
  }
  result += u"'";
  return result;
}

String DeleteExeScript(const String& ExeName, const String& ScriptName) {
  const String exe = ShellQuote(ExeName);
  const String script = ShellQuote(ScriptName);
  // The executable may still be held while the program ends, so the delete is repeated until
  // the file is gone; a file that stays undeletable (a read-only folder) is given up after a
  // minute instead of being tried for ever.
  return u"#!/bin/sh\n"
         u"tries=0\n"
         u"while [ -e " + exe + u" ] || [ -L " + exe + u" ]; do\n"
         u"  rm -f -- " + exe + u" && continue\n"
         u"  tries=$((tries + 1))\n"
         u"  [ \"$tries\" -ge 60 ] && break\n"
         u"  sleep 1\n"
         u"done\n"
         u"rm -f -- " + script + u"\n";
}

void DeleteExe() {
  const String exe = FromUtf8(platform::executable_path());
  const String script = ChangeFileExt(exe, u".sh");
  const std::string text = ToUtf8(DeleteExeScript(exe, script));
  {
    TFileStream file(script, fmCreate);
    file.Write(text.data(), static_cast<Int64>(text.size()));
  }
  platform::start_detached_process({"/bin/sh", ToUtf8(script)});
}

}  // namespace qninet
