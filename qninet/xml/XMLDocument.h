#pragma once
// The compact node table a parse fills when nobody watches it (no handlers): 32 bytes an
// element, names interned, every value and attribute text in one buffer. Items are made from
// it only when a caller reaches them.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "qninet/xml/QNInetXML.h"

namespace qninet {

/// Splits a raw attribute text as `ProcessAttributes` does, calling `Add(name, value)` for
/// each pair it makes.
void SplitXMLAttributes(StringView Attributes, const std::function<void(String, String)>& Add);

struct XMLNode {
  std::uint32_t Name;  // index into XMLDocument::Names
  std::uint32_t Parent;
  std::uint32_t FirstChild;
  std::uint32_t NextSibling;
  std::uint32_t ValueAt;
  std::uint32_t ValueLen;  // top bit: a value was assigned
  std::uint32_t AttrAt;
  std::uint32_t AttrLen;  // top two bits: the kind
};

struct XMLDocument {
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;  // TQNXMLItems::kNoNode
  static constexpr std::uint32_t kAssigned = 0x80000000u;
  static constexpr std::uint32_t kLenMask = 0x3FFFFFFFu;
  static constexpr unsigned kChunkBits = 15;

  std::vector<std::unique_ptr<XMLNode[]>> Chunks;
  std::uint32_t Count = 0;
  String Text;
  std::vector<String> Names;
  std::unordered_map<String, std::uint32_t> NameIds;

  XMLNode& node(std::uint32_t i) { return Chunks[i >> kChunkBits][i & ((1u << kChunkBits) - 1)]; }
  const XMLNode& node(std::uint32_t i) const { return Chunks[i >> kChunkBits][i & ((1u << kChunkBits) - 1)]; }

  // A new node; during the parse children are chained newest first (see `finish`).
  std::uint32_t add(std::uint32_t parent) {
    if ((Count & ((1u << kChunkBits) - 1)) == 0)
      Chunks.emplace_back(new XMLNode[std::size_t{1} << kChunkBits]);
    const std::uint32_t i = Count++;
    XMLNode& n = node(i);
    n = XMLNode{0, parent, kNone, kNone, 0, 0, 0, 0};
    if (parent != kNone) {
      XMLNode& p = node(parent);
      n.NextSibling = p.FirstChild;
      p.FirstChild = i;
    }
    return i;
  }

  std::uint32_t intern(const String& name) {
    const auto [it, added] = NameIds.try_emplace(name, static_cast<std::uint32_t>(Names.size()));
    if (added) Names.push_back(name);
    return it->second;
  }

  std::uint32_t store(StringView text) {
    const auto at = static_cast<std::uint32_t>(Text.size());
    Text.append(text);
    return at;
  }

  void append_value(std::uint32_t i, StringView text) {
    XMLNode& n = node(i);
    const std::uint32_t len = n.ValueLen & kLenMask;
    if (!(n.ValueLen & kAssigned) || n.ValueAt + len != Text.size()) {
      // Not the last text stored: move the value to the end first.
      const String old(value(i));
      n.ValueAt = store(old);
    }
    Text.append(text);
    n.ValueLen = kAssigned | static_cast<std::uint32_t>(Text.size() - n.ValueAt);
  }

  void set_attributes(std::uint32_t i, StringView text) {
    XMLNode& n = node(i);
    n.AttrAt = store(text);
    n.AttrLen = (n.AttrLen & ~kLenMask) | static_cast<std::uint32_t>(text.size());
  }
  void set_kind(std::uint32_t i, TQNXMLItemKind kind) {
    XMLNode& n = node(i);
    n.AttrLen = (n.AttrLen & kLenMask) | static_cast<std::uint32_t>(kind) << 30;
  }

  TQNXMLItemKind kind(std::uint32_t i) const { return static_cast<TQNXMLItemKind>(node(i).AttrLen >> 30); }
  bool assigned(std::uint32_t i) const { return (node(i).ValueLen & kAssigned) != 0; }
  StringView value(std::uint32_t i) const {
    const XMLNode& n = node(i);
    return StringView(Text).substr(n.ValueAt, n.ValueLen & kLenMask);
  }
  StringView attributes(std::uint32_t i) const {
    const XMLNode& n = node(i);
    return StringView(Text).substr(n.AttrAt, n.AttrLen & kLenMask);
  }
  const String& name(std::uint32_t i) const { return Names[node(i).Name]; }

  // Puts every child chain into document order.
  void finish() {
    for (std::uint32_t i = 0; i < Count; ++i) {
      XMLNode& n = node(i);
      std::uint32_t prev = kNone, c = n.FirstChild;
      while (c != kNone) {
        XMLNode& k = node(c);
        const std::uint32_t next = k.NextSibling;
        k.NextSibling = prev;
        prev = c;
        c = next;
      }
      n.FirstChild = prev;
    }
  }
};

}  // namespace qninet
