// Walking a tree whose items are partly made and partly still nodes of the compact table, in
// document order, making nothing until a caller asks for an item.

#include <vector>

#include "qninet/xml/QNInetXML.h"
#include "qninet/xml/XMLDocument.h"

namespace qninet {

// Walks made items and table nodes together in document order, making nothing until asked.
struct XMLWalk {
  struct Step {
    TQNXMLItem* Item;  // an item to visit, else nodes of Doc from Node on
    const XMLDocument* Doc;
    std::uint32_t Node;
    bool Chain;          // Node and the siblings after it
    bool Leave;          // the end of Item's items
    TQNXMLItem* Anchor;  // the made item whose list holds the nodes
    std::size_t Depth;
  };
  struct Hit {
    TQNXMLItem* Item = nullptr;
    const XMLDocument* Doc = nullptr;
    std::uint32_t Node = XMLDocument::kNone;
    TQNXMLItem* Anchor = nullptr;
  };

  // `enterItem(item, depth)` and `enterNode(doc, node, depth)` return true to stop there;
  // `leave()` follows the items of every visited item.
  template <class EnterItem, class EnterNode, class Leave>
  static Hit walk(TQNXMLItem* root, EnterItem&& enterItem, EnterNode&& enterNode, Leave&& leave) {
    std::vector<Step> work{{root, nullptr, 0, false, false, nullptr, 0}};
    while (!work.empty()) {
      const Step step = work.back();
      work.pop_back();
      if (step.Leave) {
        leave();
        continue;
      }
      if (TQNXMLItem* item = step.Item) {
        if (enterItem(*item, step.Depth)) return Hit{item};
        work.push_back({nullptr, nullptr, 0, false, true, nullptr, 0});
        const TQNXMLItems& list = item->FItems;
        if (list.FLazyNode != TQNXMLItems::kNoNode) {
          const std::uint32_t first = list.FDoc->node(list.FLazyNode).FirstChild;
          if (first != XMLDocument::kNone)
            work.push_back({nullptr, list.FDoc.get(), first, true, false, item, step.Depth + 1});
        }
        for (std::size_t i = list.FList.size(); i-- > 0;) {
          if (list.FList[i])
            work.push_back({list.FList[i], nullptr, 0, false, false, nullptr, step.Depth + 1});
          else
            work.push_back({nullptr, list.FDoc.get(), list.FNodes[i], false, false, item, step.Depth + 1});
        }
        continue;
      }
      // Table nodes: pre-order along the links, no stack.
      const XMLDocument& doc = *step.Doc;
      std::uint32_t top = step.Node, n = top;
      std::size_t depth = step.Depth;
      for (bool more = true; more;) {
        if (enterNode(doc, n, depth)) return Hit{nullptr, &doc, n, step.Anchor};
        if (doc.node(n).FirstChild != XMLDocument::kNone) {
          n = doc.node(n).FirstChild;
          ++depth;
          continue;
        }
        for (;;) {
          leave();
          const std::uint32_t next = doc.node(n).NextSibling;
          if (n == top) {
            more = step.Chain && next != XMLDocument::kNone;
            top = n = next;
            break;
          }
          if (next != XMLDocument::kNone) {
            n = next;
            break;
          }
          n = doc.node(n).Parent;
          --depth;
        }
      }
    }
    return Hit{};
  }

  // The item of a hit, made with every item between it and its anchor.
  static TQNXMLItem* made(const Hit& hit) {
    if (hit.Item || !hit.Doc) return hit.Item;
    std::vector<std::uint32_t> chain;
    for (std::uint32_t m = hit.Node; m != hit.Anchor->FNode; m = hit.Doc->node(m).Parent) chain.push_back(m);
    TQNXMLItem* item = hit.Anchor;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      const TQNXMLItems& list = item->FItems;
      list.expand();
      std::size_t i = 0;
      while (list.FNodes[i] != *it) ++i;
      item = list.slot(i);
    }
    return item;
  }

  static TQNXMLNodeView view(const TQNXMLItem& item) {
    return {item.FKind, item.FTagName, item.FValueAssigned, item.FValueText, item.FAttributes};
  }
  static TQNXMLNodeView view(const XMLDocument& doc, std::uint32_t n) {
    return {doc.kind(n), doc.name(n), doc.assigned(n), doc.value(n), doc.attributes(n)};
  }
};

TQNXMLItem* TQNXMLEngine::GetItemByTag(TQNXMLItem* ARoot, const String& XMLTag) const {
  TQNXMLItem* start = ARoot ? ARoot : FRootItem;
  if (!start) return nullptr;
  // Each interned name is compared once.
  const XMLDocument* cached = nullptr;
  std::vector<signed char> matches;
  const XMLWalk::Hit hit = XMLWalk::walk(
      start, [&](const TQNXMLItem& item, std::size_t) { return SameStrings(false, item.TagName(), XMLTag); },
      [&](const XMLDocument& doc, std::uint32_t n, std::size_t) {
        if (&doc != cached) {
          cached = &doc;
          matches.assign(doc.Names.size(), -1);
        }
        signed char& m = matches[doc.name_id(n)];
        if (m < 0) m = SameStrings(false, doc.name(n), XMLTag) ? 1 : 0;
        return m == 1;
      },
      [] {});
  return XMLWalk::made(hit);
}

void TQNXMLEngine::WalkTree(const TQNXMLItem& ARoot,
                            const std::function<void(const TQNXMLNodeView&, std::size_t)>& Enter,
                            const std::function<void()>& Leave) {
  XMLWalk::walk(
      const_cast<TQNXMLItem*>(&ARoot),
      [&](const TQNXMLItem& item, std::size_t depth) {
        Enter(XMLWalk::view(item), depth);
        return false;
      },
      [&](const XMLDocument& doc, std::uint32_t n, std::size_t depth) {
        Enter(XMLWalk::view(doc, n), depth);
        return false;
      },
      [&] {
        if (Leave) Leave();
      });
}

}  // namespace qninet
