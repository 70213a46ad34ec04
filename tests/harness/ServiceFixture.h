#pragma once
#include "harness/ServerLaunch.h"  // every launched server lives there

#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace qninet::harness {

/// One request as the service fixture received it, whole.
struct Exchange {
  std::string Method, Path, Query;  ///< the path and query as sent (escapes kept)
  std::vector<std::pair<std::string, std::string>> Headers;
  std::string Body;
  /// The header's value (names compared ignoring case), or none when it was not sent.
  std::optional<std::string> Header(const std::string& name) const {
    const auto lower = [](std::string s) {
      for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
      return s;
    };
    for (const auto& [n, v] : Headers)
      if (lower(n) == lower(name)) return v;
    return std::nullopt;
  }
};

/// Every request the fixture received so far, in order.
inline std::vector<Exchange> Exchanges(const ServiceFixture& fixture) {
  std::vector<Exchange> out;
  std::ifstream in(fixture.Dir() / "exchanges.jsonl");
  for (std::string line; std::getline(in, line);) {
    const auto j = nlohmann::json::parse(line);
    const auto text = [](const nlohmann::json& v) { return v.get<std::string>(); };
    Exchange e{text(j["method"]), text(j["path"]), text(j["query"]), {}, {}};
    for (const auto& h : j["headers"]) e.Headers.emplace_back(text(h[0]), text(h[1]));
    const std::string hex = text(j["body"]);
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
      e.Body.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    out.push_back(std::move(e));
  }
  return out;
}

}  // namespace qninet::harness
