#pragma once
// What the content sub-commands (rss, extract) share: a web component set up from URL_OR_PATH
// and the shared options, run, and its outcome turned into an exit code.

#include <string>

#include "Options.h"
#include "qninet/web/qniupdate.h"

namespace qninet::tool {

/// Points `c` at an http://, https://, ftp:// or file:// URL or a local path and applies
/// --timeout, --proxy and --proxy-user. Returns exOk or exBadInput after reporting.
int configure_web(Run& run, TQNCustomWebUpdater& c, const std::string& target);

/// Runs `c`: exOk for a finished or skipped run, exNotFound, or exFailed with the reason.
int execute_web(Run& run, TQNCustomWebUpdater& c, const std::string& target);

}  // namespace qninet::tool
