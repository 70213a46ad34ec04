#pragma once
// What the content sub-commands (rss, extract) share: a web component set up from URL_OR_PATH
// and the shared options, run, and its outcome turned into an exit code.

#include <string>

#include "Options.h"
#include "qninet/web/qniupdate.h"

namespace qninet {
class TGraphic;
class TQNIRSSParser;
class TQNWebDirect;
class TQNRdapClient;
class TQNUPSTracker;
}  // namespace qninet

namespace qninet::tool {

/// Points `c` at an http://, https://, ftp:// or file:// URL or a local path and applies
/// --timeout, --proxy and --proxy-user. Returns exOk or exBadInput after reporting.
int configure_web(Run& run, TQNCustomWebUpdater& c, const std::string& target);

/// Runs `c`: exOk for a finished or skipped run, exNotFound, or exFailed with the reason.
int execute_web(Run& run, TQNCustomWebUpdater& c, const std::string& target);

// The results of a web component that ran, as its own sub-command gives them (each defined in
// that sub-command's file), so that `run` shows a component of a form the same way.

/// `qninet rss`: the channels and items, or "channels" for --json. exFailed after reporting
/// (about `about`) a page or text with no channel in it.
int report_feed(Run& run, const TQNIRSSParser& parser, const std::string& about);
/// `qninet image`: "run N: STATUS, FORMAT WxH, B bytes" (", no picture" without one) unless
/// quiet or --json; returns the run's JSON object.
nlohmann::ordered_json report_picture(Run& run, int number, TQNIStatus status, const TGraphic* picture);
/// `qninet news`: "FILE: S sections, E entries, N new" against the previous copy, and "file"
/// and "sections" for --json.
void report_news(Run& run, const TQNWebDirect& news);
/// `qninet rdap`: the record's readable lines, or its fields for --json.
void report_rdap(Run& run, const TQNRdapClient& c);
/// `qninet ups`: the shipment and its activities, or their fields for --json.
void report_shipment(Run& run, const TQNUPSTracker& t);

}  // namespace qninet::tool
