#include "qninet/rtl/JsonText.h"

#include <exception>
#include <memory>
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

// Builds only what a shape names: a frame per open array or object, the value it builds into (or
// none when it is skipped or its values are handed out) and the shape of its members.
class ShapedBuilder {
public:
  using json = nlohmann::json;
  ShapedBuilder(const TJsonShape& root, const TJsonShapedEach& each) : FRootShape(root), FEach(each) {}

  bool null() {
    return scalar([] { return json(nullptr); });
  }
  bool boolean(bool v) {
    return scalar([&] { return json(v); });
  }
  bool number_integer(json::number_integer_t v) {
    return scalar([&] { return json(v); });
  }
  bool number_unsigned(json::number_unsigned_t v) {
    return scalar([&] { return json(v); });
  }
  bool number_float(json::number_float_t v, const json::string_t&) {
    return scalar([&] { return json(v); });
  }
  bool string(json::string_t& v) {
    return scalar([&] { return json(std::move(v)); });
  }
  bool binary(json::binary_t&) { return null(); }
  bool key(json::string_t& v) {
    FFrames.back().Key = std::move(v);
    return true;
  }
  bool start_object(std::size_t) { return open(false); }
  bool start_array(std::size_t) { return open(true); }
  bool end_object() { return close(); }
  bool end_array() { return close(); }
  template <class Exception>
  bool parse_error(std::size_t, const std::string&, const Exception& ex) {
    throw ex;
  }

  json Root;
  std::exception_ptr Failure;

private:
  enum Value : std::uint8_t { vScalar, vObject, vArray };
  struct Frame {
    const TJsonShape* Shape = nullptr;    // of the members or elements; none: skipped
    const TJsonShape* Handing = nullptr;  // the container this value is handed out of, if any
    json* Target = nullptr;               // where members go; none: handed out or skipped
    std::unique_ptr<json> Own;            // a value to hand out when it ends
    std::string Key;                      // the member being read
    std::string HandKey;                  // the name this value is handed out with
  };

  static bool fits(const TJsonShape& s, Value v) {
    switch (s.Kind) {
      case TJsonShape::jkScalar:
        return v == vScalar;
      case TJsonShape::jkObject:
      case TJsonShape::jkEachMember:
        return v == vObject;
      case TJsonShape::jkEach:
        return v == vArray;
      default:
        return true;
    }
  }
  static const TJsonShape* choose(const TJsonShape* s, Value v) {
    if (s && s->Kind == TJsonShape::jkEither) {
      for (const TJsonShape& alternative : s->Members)
        if (fits(alternative, v)) return &alternative;
      return nullptr;
    }
    return s && fits(*s, v) ? s : nullptr;
  }
  static bool hands_out(const TJsonShape* s) {
    return s && (s->Kind == TJsonShape::jkEach || s->Kind == TJsonShape::jkEachMember);
  }

  // Where a value starting now goes: its shape (none: skipped), the slot in a kept parent or the
  // container that hands it out.
  struct Place {
    const TJsonShape* Shape = nullptr;
    json* Slot = nullptr;
    const TJsonShape* Handing = nullptr;
  };
  Place place(Value v) {
    if (FFrames.empty()) {
      if (FStarted) return {};  // a second root is the parser's error, not ours
      FStarted = true;
      const TJsonShape* s = choose(&FRootShape, v);
      return {s, s ? &Root : nullptr};
    }
    Frame& parent = FFrames.back();
    if (!parent.Shape || Failure) return {};
    if (hands_out(parent.Shape)) {
      const TJsonShape* s = choose(&parent.Shape->Members.front(), v);
      if (!s) return {};
      return {s, nullptr, parent.Shape};
    }
    // A kept object: its named members, a value of another kind as null.
    for (const TJsonShape& m : parent.Shape->Members) {
      if (parent.Key != m.Name) continue;
      json& slot = (*parent.Target)[parent.Key];
      const TJsonShape* s = choose(&m, v);
      if (!s) slot = nullptr;
      return {s, s ? &slot : nullptr};
    }
    return {};
  }

  template <class Make>
  bool scalar(Make make) {
    const Place at = place(vScalar);
    if (!at.Shape) return true;
    if (at.Handing) {
      hand(*at.Handing, FFrames.back().Key, at.Shape->Kind == TJsonShape::jkNone ? json() : make());
    } else if (at.Shape->Kind != TJsonShape::jkNone) {
      *at.Slot = make();
    }
    return true;
  }

  bool open(bool array) {
    if (++FDepth > kMaxJsonDepth) throw TooDeep{};
    const Place at = place(array ? vArray : vObject);
    Frame frame;
    if (at.Shape && at.Shape->Kind == TJsonShape::jkNone) {
      if (at.Handing) hand(*at.Handing, FFrames.back().Key, json());
    } else if (at.Shape) {
      frame.Shape = at.Shape;
      json empty = array ? json::array() : json::object();
      if (at.Handing) {
        frame.Handing = at.Handing;
        frame.HandKey = FFrames.back().Key;
        frame.Own = std::make_unique<json>(std::move(empty));
        frame.Target = frame.Own.get();
      } else {
        *at.Slot = std::move(empty);
        frame.Target = at.Slot;
      }
      if (hands_out(at.Shape)) frame.Target = nullptr;  // its values go out, it stays empty
    }
    FFrames.push_back(std::move(frame));
    return true;
  }

  bool close() {
    --FDepth;
    Frame frame = std::move(FFrames.back());
    FFrames.pop_back();
    if (frame.Handing && frame.Own) hand(*frame.Handing, frame.HandKey, std::move(*frame.Own));
    return true;
  }

  void hand(const TJsonShape& from, std::string_view key, json&& value) {
    if (Failure) return;
    try {
      FEach(from, from.Kind == TJsonShape::jkEachMember ? key : std::string_view(), std::move(value));
    } catch (...) {
      Failure = std::current_exception();
    }
  }

  const TJsonShape& FRootShape;
  const TJsonShapedEach& FEach;
  std::vector<Frame> FFrames;
  int FDepth = 0;
  bool FStarted = false;
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

nlohmann::json ReadJsonShaped(std::string_view text, std::string_view name, std::string_view kind,
                              const TJsonShape& shape, const TJsonShapedEach& each) {
  ShapedBuilder builder(shape, each);
  try {
    nlohmann::json::sax_parse(text, &builder);
  } catch (const TooDeep&) {
    fail(name, kind, "nested deeper than " + std::to_string(kMaxJsonDepth) + " levels");
  } catch (const nlohmann::json::exception& e) {
    fail(name, kind, e.what());
  }
  if (builder.Failure) std::rethrow_exception(builder.Failure);
  return std::move(builder.Root);
}

}  // namespace qninet
