#pragma once
// Inside the DNS reply reader: a bounds-checked reader over a message's bytes, and the readers
// of record data that both the decoder and the renderers use. Not installed.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "qninet/socket/QNIDNS.h"

namespace qninet::dns {

/// "\DDD", the escape dig writes for a byte it does not show as it is.
String decimal3(unsigned v);

/// A reader over a message that never steps outside it.
class Reader {
public:
  explicit Reader(std::string_view bytes) : FBytes(bytes) {}
  std::size_t Size() const { return FBytes.size(); }
  unsigned At(std::size_t i) const { return static_cast<unsigned char>(FBytes[i]); }
  bool U16(std::size_t& at, std::uint16_t& v) const {
    if (at + 2 > FBytes.size()) return false;
    v = static_cast<std::uint16_t>((At(at) << 8) | At(at + 1));
    at += 2;
    return true;
  }
  bool U32(std::size_t& at, std::uint32_t& v) const {
    std::uint16_t hi = 0, lo = 0;
    if (!U16(at, hi) || !U16(at, lo)) return false;
    v = (static_cast<std::uint32_t>(hi) << 16) | lo;
    return true;
  }
  /// A name at `at` (compression pointers followed, RFC 1035 section 4.1.4); `at` moves past the
  /// name's own bytes. Labels are escaped into `name` as dig writes them; a null `name` only
  /// checks the name. False with `error` set for a name that does not read.
  bool Name(std::size_t& at, String* name, String& error) const;
  /// The same, for a name that must end within `end`.
  bool NameWithin(std::size_t& at, std::size_t end, String& name) const {
    String error;
    return at <= end && Name(at, &name, error) && at <= end;
  }
  String Slice(std::size_t at, std::size_t n) const { return FromBytes(FBytes.substr(at, n)); }

private:
  std::string_view FBytes;
};

/// Where a record's data lies in the message.
struct Data {
  const Reader& R;
  std::size_t At, Len;
  std::size_t End() const { return At + Len; }
};

/// The typed readers: empty when the data does not have the type's form.
std::optional<TQNIDNSAddress> read_address(const Data& d);
std::optional<TQNIDNSMX> read_mx(const Data& d);
std::optional<TQNIDNSSRV> read_srv(const Data& d);
std::optional<TQNIDNSSOA> read_soa(const Data& d);
/// TXT and SPF: the character-strings, unescaped.
std::optional<std::vector<String>> read_strings(const Data& d);

/// The data of a record of `type` as dig writes it; the RFC 3597 generic form ("\# N HEX") when
/// the data does not have its type's form or the type has no renderer.
String render_data(const Data& d, std::uint16_t type);

}  // namespace qninet::dns
