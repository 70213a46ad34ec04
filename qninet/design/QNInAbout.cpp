#include "qninet/design/QNInAbout.h"

#include "qninet/design/Palette.h"
#include "qninet/rtl/Forms.h"

namespace qninet {

String AboutQNInetText() {
  String text = u"QNInternet components for internet clients:";
  for (const TPaletteEntry& e : QNInetPalette()) {
    if (!e.Registered) continue;
    text += u"\n";
    text += FromUtf8(e.Ref.Class->Name());
    text += u" - ";
    text += e.Caption;
  }
  return text;
}

void AboutQNInet() {
  Application().MessageBox(AboutQNInetText(), u"About QNInternet", gui::mbOK | gui::mbIconInformation);
}

}  // namespace qninet
