// A program built against the installed package's Qt target: it installs the Qt backend
// offscreen and shows a message-free form through it.
#include <cstdio>
#include <cstdlib>

#include "qninet/gui/qt/QtBackend.h"
#include "qninet/rtl/Forms.h"

int main() {
  using namespace qninet;
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  if (!gui::UseQtBackend()) {
    std::puts("consumer_qt FAILED: no Qt backend");
    return 1;
  }
  TForm form(nullptr);
  form.SetName(u"frmConsumer");
  form.SetBounds(0, 0, 200, 100);
  form.Show();
  const bool ok = gui::QtWindowOf(form) != nullptr;
  form.Hide();
  std::puts(ok ? "consumer_qt ok" : "consumer_qt FAILED");
  return ok ? 0 : 1;
}
