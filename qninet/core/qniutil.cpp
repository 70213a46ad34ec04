#include "qninet/core/qniutil.h"

#include <string>
#include <string_view>

#include "qninet/core/Entities.h"
#include "qninet/core/TextEncoding.h"
#include "qninet/core/Url.h"
#include "qninet/sys/ContentTypes.h"
#include "qninet/sys/Files.h"
#include "qninet/sys/Process.h"
#include "qninet/sys/Settings.h"
#include "qninet/sys/Utf8.h"
#include "qninet/rtl/Streams.h"

namespace qninet {

String Utf8Decode(const String& S) {
  if (S.empty()) return String();
  String out;
  out.reserve(S.size());
  const std::size_t n = S.size();
  auto unit = [&](std::size_t i) -> unsigned { return S[i] & 0xFF; };
  auto is_continuation = [](unsigned t) { return (t & 0xC0) == 0x80; };
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t c = S[i];
    if ((c & 0x80) == 0) {
      out.push_back(c);
      continue;
    }
    if (i + 1 >= n) return String();
    const unsigned lead = unit(i);
    if ((lead & 0xF8) == 0xF0) {
      // Four units: 11110xxx 10xxxxxx 10xxxxxx 10xxxxxx.
      if (i + 3 >= n || !is_continuation(unit(i + 1)) || !is_continuation(unit(i + 2)) ||
          !is_continuation(unit(i + 3)))
        return String();
      const char32_t cp = ((lead & 0x07) << 18) | ((unit(i + 1) & 0x3F) << 12) | ((unit(i + 2) & 0x3F) << 6) |
                          (unit(i + 3) & 0x3F);
      if (cp > 0x10FFFF) return String();
      sys::append_utf16(out, cp);
      i += 3;
      continue;
    }
    unsigned v = lead & 0x3F;
    if (v & 0x20) {
      const unsigned t = unit(++i);
      if (!is_continuation(t) || i + 1 >= n) return String();
      v = (v << 6) | (t & 0x3F);
    }
    const unsigned t = unit(++i);
    if (!is_continuation(t)) return String();
    out.push_back(static_cast<char16_t>(((v << 6) | (t & 0x3F)) & 0xFFFF));
  }
  return out;
}

String Encode64(const String& S) { return FromBytes(base64_encode(ToBytes(S))); }

String Reverse(const String& S) { return String(S.rbegin(), S.rend()); }

String GetColumn(const String& S, Integer N, char16_t D) {
  String result;
  if (S == u"\t") return result;
  Integer c = 0;
  for (const char16_t ch : S) {
    if (ch == D) {
      ++c;
    } else if (c > N) {
      break;
    } else if (c == N) {
      result.push_back(ch);
    }
  }
  return result;
}

void ReplaceHTMLChars(String& S) {
  if (S.find(u'&') == String::npos) return;
  String out;
  out.reserve(S.size());
  const std::size_t n = S.size();
  std::size_t semicolon = 0;  // next ";" at or after the scan, kept moving forward
  std::size_t i = 0;
  while (i < n) {
    const std::size_t amp = S.find(u'&', i);
    if (amp == String::npos) {
      out.append(S, i, String::npos);
      break;
    }
    out.append(S, i, amp - i);
    if (semicolon <= amp) {
      semicolon = S.find(u';', amp + 1);
      if (semicolon == String::npos) semicolon = n;
    }
    const entities::Entity* hit = entities::find_html(std::u16string_view(S.data() + amp, semicolon - amp));
    if (hit) {
      out.append(hit->Replacement);
      i = semicolon < n ? semicolon + 1 : n;
    } else {
      out.push_back(u'&');
      i = amp + 1;
    }
  }
  S = std::move(out);
}

void ReadProxyInfo(String& ProxyServer, bool& UseProxy, Integer& ProxyPort) {
  const sys::ProxySetting setting = sys::proxy_setting();
  // The registry value held at most 257 units; a longer one failed to read.
  if (setting.Server && setting.Server->size() <= 257)
    ProxyServer = setting.Server->substr(0, setting.Server->find(u'\0'));
  if (setting.Enabled) UseProxy = *setting.Enabled;
  if (!UseProxy || ProxyServer.empty()) return;
  if (const auto http = ProxyServer.find(u"http="); http != String::npos) {
    ProxyServer.erase(0, http + 5);
    if (const auto semi = ProxyServer.find(u';'); semi != String::npos) ProxyServer.erase(semi);
  }
  if (ProxyServer.front() == u'[') {
    // "[v6]:port": the first colon lies inside the address.
    if (const auto hp = HostPort::Parse(ToUtf8(ProxyServer))) {
      ProxyServer = FromUtf8(hp->Host);
      if (hp->Port != 0) ProxyPort = hp->Port;
      return;
    }
  }
  if (const auto colon = ProxyServer.find(u':'); colon != String::npos) {
    // A number that is no port reads as none, like text that is no number.
    const Integer port = StrToIntDef(StringView(ProxyServer).substr(colon + 1), 0);
    ProxyPort = port >= 0 && port <= 65535 ? port : 0;
    ProxyServer.erase(colon);
  }
}

String ContentTypeByFile(const String& FileName) {
  const String def = u"application/octet-stream";
  if (FileName.empty()) return def;
  const String ext = ExtractFileExt(FileName);
  if (ext.size() < 2) return def;
  const std::string found = sys::content_type_of_extension(ToUtf8(StringView(ext).substr(1)));
  return found.empty() ? def : FromUtf8(found);
}

String ShellQuote(const String& S) {
  String result = u"'";
  for (char16_t c : S) {
    if (c == u'\'')
      result += u"'\\''";
    else
      result += c;
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
         u"while [ -e " +
         exe + u" ] || [ -L " + exe +
         u" ]; do\n"
         u"  rm -f -- " +
         exe +
         u" && continue\n"
         u"  tries=$((tries + 1))\n"
         u"  [ \"$tries\" -ge 60 ] && break\n"
         u"  sleep 1\n"
         u"done\n"
         u"rm -f -- " +
         script + u"\n";
}

void DeleteExe() {
  const String exe = FromUtf8(sys::executable_path());
  const String script = ChangeFileExt(exe, u".sh");
  const std::string text = ToUtf8(DeleteExeScript(exe, script));
  {
    TFileStream file(script, fmCreate);
    file.Write(text.data(), static_cast<Int64>(text.size()));
  }
  sys::start_detached_process({"/bin/sh", ToUtf8(script)});
}

}  // namespace qninet
