// A program built against the installed package's Qt target. It never installs a backend
// itself: QNINET_GUI=qt makes the library load the Qt windows on its first form.
#include <cstdio>
#include <cstdlib>

#include "qninet/gui/qt/QtBackend.h"
#include "qninet/rtl/Forms.h"

int main() {
  using namespace qninet;
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::setenv("QNINET_GUI", "qt", 1);
  TForm form(nullptr);
  form.SetName(u"frmConsumer");
  form.SetBounds(0, 0, 200, 100);
  form.Show();
  const bool ok = gui::QtWindowOf(form) != nullptr;
  form.Hide();
  std::puts(ok ? "consumer_qt ok" : "consumer_qt FAILED: QNINET_GUI=qt showed no Qt window");
  return ok ? 0 : 1;
}
