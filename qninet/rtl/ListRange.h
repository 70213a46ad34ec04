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
  class iterator {
  public:
    using difference_type = std::ptrdiff_t;
    using reference = decltype(std::declval<const List&>().ListElement(0));
    using value_type = std::remove_cvref_t<reference>;
    using iterator_category = std::input_iterator_tag;

    iterator() = default;
    iterator(const List* list, int index) : FList(list), FIndex(index) {}
    reference operator*() const { return FList->ListElement(FIndex); }
    iterator& operator++() {
      ++FIndex;
      return *this;
    }
    iterator operator++(int) {
      iterator before = *this;
      ++FIndex;
      return before;
    }
    bool operator==(const iterator& other) const { return FIndex == other.FIndex; }

  private:
    const List* FList = nullptr;
    int FIndex = 0;
  };

  iterator begin() const { return iterator(self(), 0); }
  iterator end() const { return iterator(self(), self()->Count()); }
  std::size_t size() const { return static_cast<std::size_t>(self()->Count()); }
  bool empty() const { return self()->Count() == 0; }

private:
  const List* self() const { return static_cast<const List*>(this); }
};

}  // namespace qninet
