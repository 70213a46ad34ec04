#pragma once
// The about box of the package: a heading line and one line per component.

#include "qninet/rtl/SysUtils.h"

namespace qninet {

/// The about box's text: the heading, then one line per registered component of the palette
/// table naming it and saying what it does, in palette order.
QNINET_API String AboutQNInetText();

/// Shows the about box: a modal information message box with one OK button.
QNINET_API void AboutQNInet();

}  // namespace qninet
