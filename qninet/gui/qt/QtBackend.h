#pragma once
// The Qt 6 Widgets backend of the GUI services: form models become real windows, message
// boxes are Qt's, timers tick on the Qt event loop. Only this library includes Qt headers.

#include "qninet/rtl/Forms.h"

class QWidget;

#define QNINET_QT_API __attribute__((visibility("default")))

namespace qninet::gui {

/// Installs the Qt backend, making the application object when the program has none. Returns
/// false, and leaves the backend in use as it was, when no display can be reached (neither
/// DISPLAY, WAYLAND_DISPLAY nor QT_QPA_PLATFORM is set) or when the program's application
/// object is not a QApplication.
QNINET_QT_API bool UseQtBackend();

/// The window that shows a form, or null while the form is not shown by the Qt backend.
QNINET_QT_API QWidget* QtWindowOf(const TForm& form);

}  // namespace qninet::gui

/// `UseQtBackend` for programs that load the library at run time (dlopen): 1 when installed.
extern "C" QNINET_QT_API int qninet_use_qt_backend();
