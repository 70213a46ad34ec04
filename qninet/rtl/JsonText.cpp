#include "qninet/rtl/JsonText.h"

#include <string>

namespace qninet {

namespace {
struct TooDeep {};
}  // namespace

nlohmann::json ParseJsonBounded(std::string_view text, std::string_view name, std::string_view kind) {
  const auto fail = [&](const std::string& why) {
    std::string out = name.empty() ? std::string() : std::string(name) + ": ";
    throw EReadError(FromUtf8(out + std::string(kind) + ": " + why));
  };
  // The callback sees each array and object as it opens, at the depth of its parent, so the
  // refusal comes before the parser holds anything deeper than the bound.
  const nlohmann::json::parser_callback_t bound = [](int depth, nlohmann::json::parse_event_t event,
                                                     nlohmann::json&) {
    if ((event == nlohmann::json::parse_event_t::object_start ||
         event == nlohmann::json::parse_event_t::array_start) &&
        depth >= kMaxJsonDepth)
      throw TooDeep{};
    return true;
  };
  try {
    return nlohmann::json::parse(text, bound);
  } catch (const TooDeep&) {
    fail("nested deeper than " + std::to_string(kMaxJsonDepth) + " levels");
  } catch (const nlohmann::json::exception& e) {
    fail(e.what());
  }
  return {};
}

}  // namespace qninet
