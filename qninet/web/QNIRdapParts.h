#pragma once
// The RDAP client's pieces shared by its units (internal, not installed): addresses read and
// written without the system's parser (the web layer reaches no socket header), the answer's
// reader and the fetched answer.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <nlohmann/json.hpp>

#include "qninet/web/QNIRdap.h"

namespace qninet {

struct TQNRdapClient::TFetch {
  std::string Body;
  nlohmann::json Object;
};

struct TQNRdapClient::TReader {
  /// Copies an RDAP object into the results, entities after those there are.
  static void Read(TQNRdapClient& c, const nlohmann::json& A);
};

namespace rdap {

__extension__ typedef unsigned __int128 u128;

struct Address {
  bool V6 = false;
  u128 Value = 0;
  int Bits() const { return V6 ? 128 : 32; }
};

/// An IPv4 or IPv6 address; none when `s` is neither.
std::optional<Address> parse_address(std::string_view s);
/// "ADDRESS" or "ADDRESS/LENGTH"; a bare address is its own full-length prefix.
std::optional<std::pair<Address, int>> parse_prefix(std::string_view s);
/// The address with the lowest `bits - length` bits cleared.
u128 network_of(const Address& a, int length);
/// RFC 5952: lower case, the longest run of two or more zero groups as "::".
std::string format_address(const Address& a);

/// "HTTP 418: TITLE: DESCRIPTION" from an RDAP error object (RFC 9083 6), whatever the body holds.
String refusal(std::uint32_t code, const std::string& body);
/// Entities nested in entities, in document order; an entity asked for is the first itself.
void read_entities(const nlohmann::json& object, TCollectionOf<TQNRdapEntity>& out);

}  // namespace rdap
}  // namespace qninet
