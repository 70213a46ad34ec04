#pragma once
// The package's palette as one table: each component class with what it does and its picture.
// Registration, the about box's list and the palette pictures are all read from it, so a new
// component is one more row.

#include <span>
#include <string_view>

#include "qninet/rtl/Classes.h"

namespace qninet {

/// A component class and how to make one.
struct TComponentClassRef {
  /// The class's run-time information.
  const TClassInfo* Class;
  /// Makes a component of the class, owned by `AOwner`.
  TComponent* (*Create)(TComponent* AOwner);
};

/// One row of the palette.
struct TPaletteEntry {
  /// The component class.
  TComponentClassRef Ref;
  /// Whether `Register` puts the class on the palette page; a class made in code only (the DNS
  /// resolver) keeps its picture without being registered.
  bool Registered;
  /// What the component does: its line in the about box.
  std::u16string_view Caption;
  /// The picture: a tile of colour `Fill` under the text `Label`; no fill, no picture.
  const char* Fill;
  /// The picture's text.
  const char* Label;
};

/// The palette page of every registered class.
inline constexpr std::u16string_view kQNInetPalettePage = u"QN-Internet";

/// Every row of the palette, registered classes in palette order, then the others.
QNINET_API std::span<const TPaletteEntry> QNInetPalette();

}  // namespace qninet
