#pragma once
// The compact node table a parse fills when nobody watches it (no handlers): 24 bytes an
// element, names interned, every value and attribute text in chunks of one text store. Items
// are made from it only when a caller reaches them.

#include <algorithm>
#include <array>
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
  std::uint32_t Name;  // index into XMLDocument::Names; the top two bits hold the kind
  std::uint32_t Parent;
  std::uint32_t FirstChild;
  std::uint32_t NextSibling;
  std::uint32_t ValueAt;
  std::uint32_t ValueLen;  // top bit: a value was assigned; next: attribute text before it
};

// Chunks of finished documents, kept per thread for the next parse up to a bound: a fresh
// page costs more than the parse writing it, and documents come in series.
// Under AddressSanitizer nothing is kept, so that a stale view into a freed chunk is caught.
#if defined(__SANITIZE_ADDRESS__)
#define QNINET_XML_CHUNK_POOL 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QNINET_XML_CHUNK_POOL 0
#endif
#endif
#ifndef QNINET_XML_CHUNK_POOL
#define QNINET_XML_CHUNK_POOL 1
#endif
struct XMLChunkPool {
  static constexpr std::size_t kMaxBytes = QNINET_XML_CHUNK_POOL ? std::size_t{64} << 20 : 0;
  std::vector<std::unique_ptr<XMLNode[]>> Nodes;
  std::vector<std::unique_ptr<char16_t[]>> Texts;
  std::size_t Bytes = 0;
  static XMLChunkPool& local() {
    thread_local XMLChunkPool pool;
    return pool;
  }
  // Gives this thread's kept chunks back, for a reader whose next allocation outgrows them.
  static void release() {
    XMLChunkPool& pool = local();
    pool.Nodes.clear();
    pool.Texts.clear();
    pool.Bytes = 0;
  }
};

struct XMLDocument {
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;  // TQNXMLItems::kNoNode
  static constexpr std::uint32_t kAssigned = 0x80000000u;
  static constexpr std::uint32_t kHasAttrs = 0x40000000u;
  static constexpr std::uint32_t kLenMask = 0x3FFFFFFFu;
  static constexpr unsigned kChunkBits = 15;
  // Texts lie in chunks of 512 Ki units (a longer text gets a chunk of its own), addressed by
  // one 32-bit offset: chunk k starts at k << kTextBits. Chunks never move.
  static constexpr unsigned kTextBits = 19;
  static constexpr std::uint32_t kTextChunk = 1u << kTextBits;
  static constexpr std::size_t kNodeChunkBytes = sizeof(XMLNode) << kChunkBits;
  static constexpr std::size_t kTextChunkBytes = sizeof(char16_t) << kTextBits;

  std::vector<std::unique_ptr<XMLNode[]>> Chunks;
  std::uint32_t Count = 0;
  std::vector<std::unique_ptr<char16_t[]>> TextChunks;  // by slot; none where a long text goes on
  std::uint32_t TextEnd = 0, TextLimit = 0;
  std::vector<String> Names;
  std::unordered_map<String, std::uint32_t> NameIds;
  std::array<std::uint32_t, 64> NameCache = filled_cache();

  static constexpr std::array<std::uint32_t, 64> filled_cache() {
    std::array<std::uint32_t, 64> a{};
    for (auto& v : a) v = kNone;
    return a;
  }

  XMLDocument() = default;
  XMLDocument(const XMLDocument&) = delete;
  XMLDocument& operator=(const XMLDocument&) = delete;
  ~XMLDocument() {
    XMLChunkPool& pool = XMLChunkPool::local();
    for (auto& c : Chunks) {
      if (pool.Bytes + kNodeChunkBytes > XMLChunkPool::kMaxBytes) break;
      pool.Bytes += kNodeChunkBytes;
      pool.Nodes.push_back(std::move(c));
    }
    for (std::size_t k = 0; k < TextChunks.size(); ++k) {
      // Only chunks of the usual size: a long text's chunk spans the slots after it.
      const bool usual = k + 1 == TextChunks.size() ? TextLimit - (k << kTextBits) == kTextChunk
                                                    : TextChunks[k + 1] != nullptr;
      if (!TextChunks[k] || !usual || pool.Bytes + kTextChunkBytes > XMLChunkPool::kMaxBytes) continue;
      pool.Bytes += kTextChunkBytes;
      pool.Texts.push_back(std::move(TextChunks[k]));
    }
  }

  XMLNode& node(std::uint32_t i) { return Chunks[i >> kChunkBits][i & ((1u << kChunkBits) - 1)]; }
  const XMLNode& node(std::uint32_t i) const { return Chunks[i >> kChunkBits][i & ((1u << kChunkBits) - 1)]; }

  // A new node; during the parse children are chained newest first (see `finish`).
  std::uint32_t add(std::uint32_t parent) {
    if ((Count & ((1u << kChunkBits) - 1)) == 0) {
      XMLChunkPool& pool = XMLChunkPool::local();
      if (pool.Nodes.empty()) {
        Chunks.emplace_back(new XMLNode[std::size_t{1} << kChunkBits]);
      } else {
        Chunks.push_back(std::move(pool.Nodes.back()));
        pool.Nodes.pop_back();
        pool.Bytes -= kNodeChunkBytes;
      }
    }
    const std::uint32_t i = Count++;
    XMLNode& n = node(i);
    n = XMLNode{0, parent, kNone, kNone, 0, 0};
    if (parent != kNone) {
      XMLNode& p = node(parent);
      n.NextSibling = p.FirstChild;
      p.FirstChild = i;
    }
    return i;
  }

  void set_name(std::uint32_t i, const String& name) {
    // Documents repeat a few names: a small cache spares most hash look-ups.
    const std::size_t slot =
        name.empty() ? 0 : (name.size() * 31 + name[0] * 7 + name.back()) & (NameCache.size() - 1);
    std::uint32_t id = NameCache[slot];
    if (id == kNone || Names[id] != name) {
      const auto [it, added] = NameIds.try_emplace(name, static_cast<std::uint32_t>(Names.size()));
      if (added) Names.push_back(name);
      id = NameCache[slot] = it->second;
    }
    XMLNode& n = node(i);
    n.Name = (n.Name & ~kLenMask) | id;
  }
  void set_kind(std::uint32_t i, TQNXMLItemKind kind) {
    XMLNode& n = node(i);
    n.Name = (n.Name & kLenMask) | static_cast<std::uint32_t>(kind) << 30;
  }

  const char16_t* text_at(std::uint32_t at) const {
    return TextChunks[at >> kTextBits].get() + (at & (kTextChunk - 1));
  }
  StringView text(std::uint32_t at, std::uint32_t len) const {
    return len ? StringView(text_at(at), len) : StringView();
  }

  // Room for `n` more units; returns where they go.
  std::uint32_t place(std::size_t n) {
    if (TextEnd + n > TextLimit) {
      const auto slot = static_cast<std::uint32_t>(TextChunks.size());
      const std::size_t size = std::max<std::size_t>(n, kTextChunk);
      XMLChunkPool& pool = XMLChunkPool::local();
      if (size == kTextChunk && !pool.Texts.empty()) {
        TextChunks.push_back(std::move(pool.Texts.back()));
        pool.Texts.pop_back();
        pool.Bytes -= kTextChunkBytes;
      } else {
        TextChunks.emplace_back(new char16_t[size]);
      }
      for (std::size_t k = kTextChunk; k < size; k += kTextChunk) TextChunks.emplace_back();
      TextEnd = slot << kTextBits;
      TextLimit = TextEnd + static_cast<std::uint32_t>(size);
    }
    const std::uint32_t at = TextEnd;
    TextEnd += static_cast<std::uint32_t>(n);
    return at;
  }

  std::uint32_t store(StringView text) {
    if (text.empty()) return TextEnd;
    const std::uint32_t at = place(text.size());
    std::copy(text.begin(), text.end(), TextChunks[at >> kTextBits].get() + (at & (kTextChunk - 1)));
    return at;
  }

  // Attribute text, its length in two units, then the value: one block, so that a node
  // needs no field for the attribute text most nodes lack.
  void write_block(std::uint32_t i, StringView attrs, StringView value, bool assigned) {
    XMLNode& n = node(i);
    const std::uint32_t flags = assigned ? kAssigned : 0;
    if (attrs.empty()) {
      n.ValueAt = store(value);
      n.ValueLen = flags | static_cast<std::uint32_t>(value.size());
      return;
    }
    const std::uint32_t at = place(attrs.size() + 2 + value.size());
    char16_t* d = TextChunks[at >> kTextBits].get() + (at & (kTextChunk - 1));
    d = std::copy(attrs.begin(), attrs.end(), d);
    *d++ = static_cast<char16_t>(attrs.size() >> 16);
    *d++ = static_cast<char16_t>(attrs.size() & 0xFFFF);
    std::copy(value.begin(), value.end(), d);
    n.ValueAt = at + static_cast<std::uint32_t>(attrs.size()) + 2;
    n.ValueLen = flags | kHasAttrs | static_cast<std::uint32_t>(value.size());
  }

  // Replaces the attribute text when `attrs` is not empty and appends `more` to the value
  // (assigning it) when `more` is not empty.
  void add_texts(std::uint32_t i, StringView attrs, StringView more) {
    if (attrs.empty() && more.empty()) return;
    const XMLNode& n = node(i);
    const std::uint32_t len = n.ValueLen & kLenMask;
    const bool assigned = (n.ValueLen & kAssigned) != 0;
    if (!assigned && !(n.ValueLen & kHasAttrs)) {
      write_block(i, attrs, more, !more.empty());
    } else if (attrs.empty() && len && n.ValueAt + len == TextEnd && TextEnd + more.size() <= TextLimit) {
      store(more);  // right behind the value, in the same chunk
      node(i).ValueLen += static_cast<std::uint32_t>(more.size());
    } else {
      const String keep(attrs.empty() ? attributes(i) : attrs);
      String value(this->value(i));
      value += more;
      write_block(i, keep, value, assigned || !more.empty());
    }
  }

  std::uint32_t name_id(std::uint32_t i) const { return node(i).Name & kLenMask; }
  TQNXMLItemKind kind(std::uint32_t i) const { return static_cast<TQNXMLItemKind>(node(i).Name >> 30); }
  bool assigned(std::uint32_t i) const { return (node(i).ValueLen & kAssigned) != 0; }
  StringView value(std::uint32_t i) const {
    const XMLNode& n = node(i);
    return text(n.ValueAt, n.ValueLen & kLenMask);
  }
  StringView attributes(std::uint32_t i) const {
    const XMLNode& n = node(i);
    if (!(n.ValueLen & kHasAttrs)) return StringView();
    const char16_t* low = text_at(n.ValueAt - 1);
    const std::size_t len = static_cast<std::size_t>(low[-1]) << 16 | low[0];
    return StringView(low - 1 - len, len);
  }
  const String& name(std::uint32_t i) const { return Names[name_id(i)]; }

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
