#pragma once
// The range-for loop and size() for the framework's indexed lists.

#include <cstddef>
#include <iterator>
#include <type_traits>

namespace qninet {

/// Gives a list class `List` (derived from it) `begin`, `end`, `size` and `empty` over its
/// `Count()` elements, each read through `List::ListElement(index)`: a string by value for
/// string lists, an owned object by reference for collections and object lists. The loop takes
/// the count when it starts, so its body must not add or delete elements.
template <class List>
class TListRange {
public:
  /// A position in the list: an index, read through `ListElement` when dereferenced.
  class iterator {
  public:
    using difference_type = std::ptrdiff_t;  ///< a distance between two positions
    using reference = decltype(std::declval<const List&>().ListElement(0));  ///< by value or reference
    using value_type = std::remove_cvref_t<reference>;                       ///< the element type
    using iterator_category = std::input_iterator_tag;                       ///< read once, forward

    iterator() = default;
    iterator(const List* list, int index) : FList(list), FIndex(index) {}  ///< position `index` of `list`
    reference operator*() const { return FList->ListElement(FIndex); }  ///< the element; before `end()` only
    iterator& operator++() {                                            ///< moves to the next element
      ++FIndex;
      return *this;
    }
    iterator operator++(int) {  ///< moves to the next element; the position before
      iterator before = *this;
      ++FIndex;
      return before;
    }
    bool operator==(const iterator& other) const { return FIndex == other.FIndex; }  ///< the same index

  private:
    const List* FList = nullptr;
    int FIndex = 0;
  };

  iterator begin() const { return iterator(self(), 0); }              ///< the first element's position
  iterator end() const { return iterator(self(), self()->Count()); }  ///< after the last, by `Count()` now
  std::size_t size() const { return static_cast<std::size_t>(self()->Count()); }  ///< `Count()`
  bool empty() const { return self()->Count() == 0; }                             ///< whether `Count()` is 0

private:
  const List* self() const { return static_cast<const List*>(this); }
};

}  // namespace qninet
