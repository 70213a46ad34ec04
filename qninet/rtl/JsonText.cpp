#include "qninet/rtl/JsonText.h"

#include <string>

namespace qninet {

namespace {

struct TooDeep {};

// nlohmann's own builder, counting the arrays and objects open. (Its parser callback gives the
// depth too, but its builder then searches the parent for discarded values at every object's
// end, which makes a list of n objects cost n squared.)
class BoundedBuilder : public nlohmann::detail::json_sax_dom_parser<nlohmann::json> {
public:
  using json_sax_dom_parser::json_sax_dom_parser;
  bool start_object(std::size_t n) { return open() && json_sax_dom_parser::start_object(n); }
  bool start_array(std::size_t n) { return open() && json_sax_dom_parser::start_array(n); }
  bool end_object() { return --FDepth, json_sax_dom_parser::end_object(); }
  bool end_array() { return --FDepth, json_sax_dom_parser::end_array(); }

private:
  bool open() {
    if (++FDepth > kMaxJsonDepth) throw TooDeep{};
    return true;
  }
  int FDepth = 0;
};

}  // namespace

nlohmann::json ParseJsonBounded(std::string_view text, std::string_view name, std::string_view kind) {
  const auto fail = [&](const std::string& why) {
    std::string out = name.empty() ? std::string() : std::string(name) + ": ";
    throw EReadError(FromUtf8(out + std::string(kind) + ": " + why));
  };
  try {
    nlohmann::json result;
    BoundedBuilder builder(result, true);
    nlohmann::json::sax_parse(text, &builder);
    return result;
  } catch (const TooDeep&) {
    fail("nested deeper than " + std::to_string(kMaxJsonDepth) + " levels");
  } catch (const nlohmann::json::exception& e) {
    fail(e.what());
  }
  return {};
}

}  // namespace qninet
