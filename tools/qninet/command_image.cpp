// `qninet image`: a picture from the web, FTP or a path, shown in a window and refreshed on
// the remote image's timer. Each run prints what it loaded.

#include <cmath>
#include <iostream>
#include <memory>

#include "Loopback.h"
#include "WebContentRun.h"
#include "qninet/rtl/GuiConsole.h"
#include "qninet/rtl/TypInfo.h"
#include "qninet/web/qniimage.h"

namespace qninet::tool {
namespace {

struct ImageArgs {
  std::string Target;
  double Interval = 10;
  int Count = 1;
};

std::string status_name(TQNIStatus s) {
  return ToUtf8(EnumInfoOf(static_cast<TQNIStatus*>(nullptr)).NameOf(s));
}

int status_code(TQNIStatus s) { return s == isFailed ? exFailed : s == isNotFound ? exNotFound : exOk; }

}  // namespace

nlohmann::ordered_json report_picture(Run& run, int number, TQNIStatus status, const TGraphic* g) {
  nlohmann::ordered_json j{{"status", status_name(status)}};
  if (g && !g->Empty()) {
    j["format"] = g->Format();
    j["width"] = g->Width();
    j["height"] = g->Height();
    j["bytes"] = g->Data().size();
  }
  if (!run.Options().Json && !run.Options().Quiet) {
    std::cout << "run " << number << ": " << status_name(status);
    if (j.contains("format"))
      std::cout << ", " << g->Format() << ' ' << g->Width() << 'x' << g->Height() << ", " << g->Data().size()
                << " bytes";
    else
      std::cout << ", no picture";
    std::cout << std::endl;
  }
  return j;
}

namespace {

int run_image(Run& run, const ImageArgs& args) {
  if (!(args.Interval > 0) || args.Interval * 1000 > 0x7FFFFFFF)
    return run.Fail(exBadInput, "", "--interval must be a positive number of seconds");
  if (args.Count < 0) return run.Fail(exBadInput, "", "--count must be 0 (no end) or more");
  TQNRemoteImage image(nullptr);
  if (const int code = configure_web(run, image, args.Target)) return code;
  image.SetInterval(static_cast<Cardinal>(std::lround(args.Interval * 1000)));

  // The window: one picture filling it. The console shows no window; the lines say it all.
  TForm form(nullptr);
  form.SetName(u"frmRemoteImage");
  form.SetCaption(FromUtf8(args.Target));
  form.SetBounds(0, 0, 320, 240);
  form.SetPosition(poScreenCenter);
  auto* picture = new TImage(&form);
  picture->SetName(u"imgRemote");
  picture->SetAlign(alClient);
  picture->SetBounds(0, 0, 320, 240);
  image.SetImage(picture);
  const bool console = &gui::Services() == &gui::console_services();
  if (!console) form.Show();

  int runs = 0;
  int code = exOk;
  auto& list = run.Json()["runs"] = nlohmann::ordered_json::array();
  auto report = [&] {
    code = status_code(image.Status());
    list.push_back(report_picture(run, ++runs, image.Status(), picture->Picture()->Graphic()));
  };

  // The first run at once, the others on the timer, one interval after each run ends.
  try {
    image.Execute();
  } catch (const Exception& e) {
    return run.Fail(exFailed, args.Target, e.what());
  }
  report();
  // A tick starts an asynchronous run, which keeps the timer off until it has ended: `OnDone`
  // says when the picture is in; a timer still off then means the run raised.
  bool done = false;
  image.SetOnDone([&done](TObject*, bool) { done = true; });
  if (args.Count != 1) image.Start();
  while (args.Count == 0 || runs < args.Count) {
    gui::Services().RunUntil([&] { return done || (!image.Busy() && !image.TimerEnabled()); }, 1000);
    if (done && image.TimerEnabled()) {
      done = false;
      report();
    } else if (!image.Busy() && !image.TimerEnabled()) {
      return run.Fail(exFailed, args.Target, "the refresh stopped on an error");
    }
  }
  image.Stop();
  if (code != exOk)
    return run.Fail(
        code, args.Target,
        image.LastErrorText().empty() ? status_name(image.Status()) : ToUtf8(image.LastErrorText()));
  return exOk;
}

const CommandRegistrar registrar(430, [](CLI::App& app, RunState& state) {
  auto args = std::make_shared<ImageArgs>();
  auto* cmd = add_command(app, state, "image", "Show a remote picture in a window, refreshed on a timer",
                          Offer{nullptr, 60, true}, [args](Run& run) { return run_image(run, *args); });
  cmd->add_option("URL_OR_PATH", args->Target,
                  "http://, https://, ftp:// or file:// URL of the picture, or a file path")
      ->required();
  cmd->add_option("--interval", args->Interval, "Seconds from the end of one run to the next (default 10)");
  cmd->add_option("--count", args->Count,
                  "Runs before the command ends; 0 runs until interrupted (default 1)");
  cmd->footer(
      "The picture's format follows the file's extension. Prints \"run N: STATUS, FORMAT WxH, BYTES bytes\"\n"
      "for each run; --json gives {\"status\", \"runs\": [{status, format, width, height, bytes}]}. An "
      "unchanged\n"
      "remote picture is not fetched again. With --gui qt the picture shows in a window.");
  add_examples(*cmd, {"qninet image http://127.0.0.1:8080/logo.png",
                      "qninet image --gui qt --interval 30 --count 0 http://127.0.0.1:8080/cam.jpg"});
});

// An 8 x 8 blue PNG.
const std::string kDemoPicture(
    "\x89\x50\x4e\x47\x0d\x0a\x1a\x0a\x00\x00\x00\x0d\x49\x48\x44\x52"
    "\x00\x00\x00\x08\x00\x00\x00\x08\x08\x02\x00\x00\x00\x4b\x6d\x29"
    "\xdc\x00\x00\x00\x11\x49\x44\x41\x54\x78\xda\x63\x30\x4e\x3b\x83"
    "\x15\x31\x0c\x2d\x09\x00\xb9\x86\x59\x41\x6e\x26\x84\xfc\x00\x00"
    "\x00\x00\x49\x45\x4e\x44\xae\x42\x60\x82",
    74);

const DemoRegistrar demo(DemoStep{
    435, "Remote image: a picture from a loopback web server, fetched once", [](std::ostream& out) {
      const auto server = loopback::ServeFile("/logo.png", kDemoPicture, "image/png");
      const loopback::DirectConnections direct;
      TImage picture(nullptr);
      TQNRemoteImage image(nullptr);
      image.SetURL(FromUtf8("http://127.0.0.1:" + std::to_string(server->Port()) + "/logo.png"));
      image.SetTimeout(5000);
      image.SetImage(&picture);
      bool ok = true;
      for (int run = 1; run <= 2; ++run) {
        ok = image.Execute() && ok;
        const TGraphic* g = picture.Picture()->Graphic();
        out << "run " << run << ": " << status_name(image.Status());
        if (g && !g->Empty()) out << ", " << g->Format() << ' ' << g->Width() << 'x' << g->Height();
        out << '\n';
        ok = ok && g && g->Width() == 8;
      }
      image.SetImage(nullptr);
      return ok;
    }});

}  // namespace
}  // namespace qninet::tool
