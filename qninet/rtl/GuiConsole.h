#pragma once
// The console backend of the GUI services: modal prompts on the controlling terminal, modeless
// forms as one status line on standard error. It serves until an application installs another.

#include "qninet/rtl/Forms.h"

namespace qninet::gui {

QNINET_API TGuiServices& console_services();

}  // namespace qninet::gui
