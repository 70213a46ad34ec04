#include "qninet/sys/Idna.h"

#include <idn2.h>

#include <memory>

#include "qninet/sys/AsciiText.h"
#include "qninet/sys/Utf8.h"

namespace qninet::sys {

namespace {
struct FreeIdn {
  void operator()(char* p) const noexcept { idn2_free(p); }
};
using IdnText = std::unique_ptr<char, FreeIdn>;
}  // namespace

bool is_ascii(std::string_view s) noexcept {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

Result<std::string> to_ascii_domain(std::string_view utf8) {
  if (is_ascii(utf8)) return lower_ascii(utf8);
  const std::string name(utf8);  // libidn2 wants a terminated string
  char* out = nullptr;
  const int rc = idn2_to_ascii_8z(name.c_str(), &out, IDN2_NONTRANSITIONAL | IDN2_NFC_INPUT);
  IdnText owned(out);
  if (rc != IDN2_OK) return Failure{rc, utf8_to_utf16(idn2_strerror(rc))};
  return std::string(owned.get());
}

std::string to_unicode_domain(std::string_view ascii) {
  const std::string name(ascii);
  char* out = nullptr;
  const int rc = idn2_to_unicode_8z8z(name.c_str(), &out, 0);
  IdnText owned(out);
  if (rc != IDN2_OK) return name;
  return std::string(owned.get());
}

}  // namespace qninet::sys
