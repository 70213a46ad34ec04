#include "WebContentRun.h"

#include <cmath>
#include <cstdlib>

#include "qninet/core/Url.h"

namespace qninet::tool {

int configure_web(Run& run, TQNCustomWebUpdater& c, const std::string& target) {
  // A local input that is not there is the user's to mend, before anything runs.
  if (target.find("://") == std::string::npos) {
    if (const int code = run.Input(target)) return code;
  }
  if (const int code = run.Target(c, target, [&](const String& path) { c.SetRemoteFileName(path); }))
    return code;
  c.SetLoginPrompt(false);
  return run.Configure(c);
}

int execute_web(Run& run, TQNCustomWebUpdater& c, const std::string& target) {
  try {
    c.Execute();
  } catch (const Exception& e) {
    return run.Fail(exFailed, target, e.what());
  }
  if (c.Status() == isNotFound) return run.Fail(exNotFound, target, "not found");
  if (c.Status() == isFailed)
    return run.Fail(exFailed, target, c.LastErrorText().empty() ? "failed" : ToUtf8(c.LastErrorText()));
  return exOk;
}

}  // namespace qninet::tool
