#include "qninet/rtl/JsonText.h"

#include <exception>
#include <optional>
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

// Builds one top-level array element at a time with nlohmann's builder and hands it on; a root
// that is no array is built and handed on whole. Depth is counted as in BoundedBuilder.
class ElementStream {
public:
  using json = nlohmann::json;
  explicit ElementStream(const std::function<void(json&&)>& each) : FEach(each) {}

  bool null() {
    return scalar([](auto& b) { return b.null(); });
  }
  bool boolean(bool v) {
    return scalar([&](auto& b) { return b.boolean(v); });
  }
  bool number_integer(json::number_integer_t v) {
    return scalar([&](auto& b) { return b.number_integer(v); });
  }
  bool number_unsigned(json::number_unsigned_t v) {
    return scalar([&](auto& b) { return b.number_unsigned(v); });
  }
  bool number_float(json::number_float_t v, const json::string_t& s) {
    return scalar([&](auto& b) { return b.number_float(v, s); });
  }
  bool string(json::string_t& v) {
    return scalar([&](auto& b) { return b.string(v); });
  }
  bool binary(json::binary_t& v) {
    return scalar([&](auto& b) { return b.binary(v); });
  }
  bool key(json::string_t& v) { return !FBuilder || FBuilder->key(v); }
  bool start_object(std::size_t n) {
    open();
    return !Forward() || FBuilder->start_object(n);
  }
  bool end_object() {
    return close([](auto& b) { return b.end_object(); });
  }
  bool start_array(std::size_t n) {
    if (FDepth == 0) {
      FInArray = true;  // the root array itself is never built
      open();
      return true;
    }
    open();
    return !Forward() || FBuilder->start_array(n);
  }
  bool end_array() {
    if (FInArray && FDepth == 1) return --FDepth, true;
    return close([](auto& b) { return b.end_array(); });
  }
  template <class Exception>
  bool parse_error(std::size_t, const std::string&, const Exception& ex) {
    throw ex;
  }
  // What `each` raised, if anything: raised once the whole text proved sound.
  std::exception_ptr Failure;

private:
  using Builder = nlohmann::detail::json_sax_dom_parser<json>;
  void open() {
    if (++FDepth > kMaxJsonDepth) throw TooDeep{};
  }
  // Whether the events from here on build a value: a new element starts its builder; nothing is
  // built once `each` has failed.
  bool Forward() {
    if (Failure) return false;
    if (!FBuilder) FBuilder.emplace(FValue, true);
    return true;
  }
  template <class Event>
  bool scalar(Event event) {
    if (!Forward()) return true;
    const bool ok = event(*FBuilder);
    if (FDepth == (FInArray ? 1 : 0)) Hand();
    return ok;
  }
  template <class Event>
  bool close(Event event) {
    --FDepth;
    if (!FBuilder) return true;
    const bool ok = event(*FBuilder);
    if (FDepth == (FInArray ? 1 : 0)) Hand();
    return ok;
  }
  void Hand() {
    FBuilder.reset();
    try {
      FEach(std::move(FValue));
    } catch (...) {
      Failure = std::current_exception();
    }
    FValue = nullptr;
  }
  const std::function<void(json&&)>& FEach;
  json FValue;
  std::optional<Builder> FBuilder;
  int FDepth = 0;
  bool FInArray = false;
};

}  // namespace

namespace {

// "NAME: KIND: WHY", NAME omitted when empty.
[[noreturn]] void fail(std::string_view name, std::string_view kind, const std::string& why) {
  std::string out = name.empty() ? std::string() : std::string(name) + ": ";
  throw EReadError(FromUtf8(out + std::string(kind) + ": " + why));
}

}  // namespace

nlohmann::json ParseJsonBounded(std::string_view text, std::string_view name, std::string_view kind) {
  try {
    nlohmann::json result;
    BoundedBuilder builder(result, true);
    nlohmann::json::sax_parse(text, &builder);
    return result;
  } catch (const TooDeep&) {
    fail(name, kind, "nested deeper than " + std::to_string(kMaxJsonDepth) + " levels");
  } catch (const nlohmann::json::exception& e) {
    fail(name, kind, e.what());
  }
}

void ForEachJsonBounded(std::string_view text, std::string_view name, std::string_view kind,
                        const std::function<void(nlohmann::json&&)>& each) {
  ElementStream stream(each);
  try {
    nlohmann::json::sax_parse(text, &stream);
  } catch (const TooDeep&) {
    fail(name, kind, "nested deeper than " + std::to_string(kMaxJsonDepth) + " levels");
  } catch (const nlohmann::json::exception& e) {
    fail(name, kind, e.what());
  }
  if (stream.Failure) std::rethrow_exception(stream.Failure);
}

}  // namespace qninet
