#include "qninet/web/WebContent.h"

#include <algorithm>
#include <atomic>

#include "qninet/rtl/Streams.h"
#include "qninet/sys/Files.h"
#include "qninet/sys/PrivateTemp.h"

namespace qninet {

String TempFileExtension(const String& RemoteFileName) {
  StringView name = RemoteFileName;
  name = name.substr(0, name.find_first_of(u"?#"));
  name = name.substr(name.find_last_of(u"/\\") + 1);  // npos + 1 is 0
  const std::size_t dot = name.rfind(u'.');
  if (dot == StringView::npos) return {};
  const StringView ext = name.substr(dot + 1);
  if (ext.empty() || ext.size() > 10) return {};
  for (const char16_t c : ext)
    if (!((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9'))) return {};
  return String(name.substr(dot));
}

int NewTempFileSlot() {
  static std::atomic<int> next{0};
  return ++next;
}

String PrivateTempFileName(int Slot, const String& RemoteFileName) {
  const auto folder = sys::private_temp_folder();
  if (!folder) throw EInOutError(folder.failure().Text);
  return FromUtf8(*folder) + u"tmp" + FromUtf8(std::to_string(Slot)) + TempFileExtension(RemoteFileName);
}

std::string ReadLocalBytes(const String& FileName) {
  TFileStream in(FileName, fmOpenRead);
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(std::max<Int64>(in.Size(), 0)));
  char block[65536];
  for (Int64 got; (got = in.Read(block, sizeof block)) > 0;)
    bytes.append(block, static_cast<std::size_t>(got));
  return bytes;
}

void DeleteLocalFile(const String& FileName) {
  if (FileName.empty()) return;
  const std::string path = ToUtf8(FileName);
  if (sys::file_exists(path)) static_cast<void>(sys::remove_file(path));  // a cache file: best effort
}

}  // namespace qninet
