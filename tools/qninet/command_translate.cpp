// `qninet translate`, `detect`, `languages` and `speak`: the translator client's four jobs.

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>

#include "Options.h"
#include "qninet/core/Url.h"
#include "qninet/web/QNIMSTranslator.h"

namespace qninet::tool {
namespace {

struct TranslatorOptions {
  std::string Base;  ///< empty: the API version's default
  std::string AppId;
  int Api = 2;
  SecretOption Key;
  std::string Region;
};

// Points the translator at --base (or the --api version's default) with --app-id, --key,
// --region and --cacert; exBadInput after saying why not.
int configure(Run& run, TQNMSTranslator& t, const TranslatorOptions& o) {
  t.SetApiVersion(o.Api == 3 ? taV3 : taV2);
  std::string key;
  if (const int code = o.Key.Read(run, key)) return code;
  t.SetSubscriptionKey(FromUtf8(key));
  t.SetRegion(FromUtf8(o.Region));
  if (o.Base.empty()) {
    if (!o.AppId.empty()) t.SetBingAppId(FromUtf8(o.AppId));
    return run.Configure(t);
  }
  String why;
  const auto url = Url::Parse(o.Base, &why);
  if (!url) return run.Fail(exBadInput, o.Base, ToUtf8(why));
  if (url->Scheme() != "http" && url->Scheme() != "https")
    return run.Fail(exBadInput, o.Base, "--base wants an http:// or https:// URL");
  // The operations are appended with a slash of their own.
  std::string base = o.Base;
  while (!base.empty() && base.back() == '/') base.pop_back();
  t.SetHost(FromUtf8(base));
  if (!o.AppId.empty()) t.SetBingAppId(FromUtf8(o.AppId));
  return run.Configure(t);
}

// exOk, or exFailed with the service's message.
int outcome(Run& run, const TQNMSTranslator& t) {
  if (t.Status() != isFailed) return exOk;
  return run.Fail(exFailed, ToUtf8(t.Host()), ToUtf8(t.LastErrorText()));
}

// Adds a translator sub-command with --base, --app-id and --cacert.
CLI::App* add_translator_command(CLI::App& app, RunState& state, const std::string& name,
                                 const std::string& description, std::shared_ptr<TranslatorOptions> o,
                                 std::function<int(Run&, TQNMSTranslator&)> body) {
  auto* cmd = add_command(app, state, name, description, Offer{.Timeout = 60, .Proxy = true, .CaCert = true},
                          [o, body](Run& run) {
                            TQNMSTranslator t(nullptr);
                            if (const int code = configure(run, t, *o)) return code;
                            return body(run, t);
                          });
  cmd->add_option("--base", o->Base,
                  "Base URL of the translator service (default " + ToUtf8(kQNMSTranslatorBaseURL) +
                      ", with --api 3 " + ToUtf8(kQNMSTranslatorV3BaseURL) + ")");
  cmd->add_option("--app-id", o->AppId, "Application identifier sent as appId (default the component's)");
  cmd->add_option("--api", o->Api, "API version: 2 (the V2 HTTP API, default) or 3 (the JSON API)")
      ->check(CLI::IsMember({2, 3}));
  add_secret_option(*cmd, "key", "Subscription key of the resource (--api 3)", o->Key);
  cmd->add_option("--region", o->Region, "Region of the resource (--api 3), when it is not global");
  return cmd;
}

const CommandRegistrar registrar(440, [](CLI::App& app, RunState& state) {
  auto from = std::make_shared<std::string>();
  auto to = std::make_shared<std::string>();
  auto text = std::make_shared<std::string>();
  auto* translate = add_translator_command(
      app, state, "translate", "Translate a text through a translator service",
      std::make_shared<TranslatorOptions>(), [from, to, text](Run& run, TQNMSTranslator& t) -> int {
        const String result = t.TranslateText(FromUtf8(*text), FromUtf8(*from), FromUtf8(*to));
        if (const int code = outcome(run, t)) return code;
        run.Json()["Translation"] = ToUtf8(result);
        if (!t.DetectedLanguage().empty()) run.Json()["DetectedLanguage"] = ToUtf8(t.DetectedLanguage());
        if (!run.Options().Json) std::cout << ToUtf8(result) << '\n';
        return exOk;
      });
  translate->add_option("--from", *from, "Language code of the text (none: the service detects it)");
  translate->add_option("--to", *to, "Language code to translate into")->required();
  translate->add_option("TEXT", *text, "The text (UTF-8)")->required();
  translate->footer(
      "Prints the translation; --json gives {\"status\", \"Translation\"} (with --api 3 and no --from,\n"
      "\"DetectedLanguage\" too).");
  add_examples(*translate, {"qninet translate --to de \"Good morning\""});

  auto detectText = std::make_shared<std::string>();
  auto* detect = add_translator_command(app, state, "detect", "Detect the language of a text",
                                        std::make_shared<TranslatorOptions>(),
                                        [detectText](Run& run, TQNMSTranslator& t) -> int {
                                          const String code = t.DetectLanguage(FromUtf8(*detectText));
                                          if (const int failed = outcome(run, t)) return failed;
                                          run.Json()["Language"] = ToUtf8(code);
                                          if (!run.Options().Json) std::cout << ToUtf8(code) << '\n';
                                          return exOk;
                                        });
  detect->add_option("TEXT", *detectText, "The text (UTF-8)")->required();
  set_help_footer(*detect, "Prints the language code; --json gives {\"status\", \"Language\"}.",
                  {"qninet detect \"Bonjour tout le monde\""});

  auto speakable = std::make_shared<bool>(false);
  auto* languages = add_translator_command(
      app, state, "languages", "List the language codes the service translates (or speaks)",
      std::make_shared<TranslatorOptions>(), [speakable](Run& run, TQNMSTranslator& t) -> int {
        TStringList codes;
        *speakable ? t.GetLanguagesForSpeak(&codes) : t.GetLanguagesForTranslate(&codes);
        if (const int code = outcome(run, t)) return code;
        run.Json()["Languages"] = lines_json(codes);
        if (!run.Options().Json)
          for (int i = 0; i < codes.Count(); ++i) std::cout << ToUtf8(codes.Strings(i)) << '\n';
        return exOk;
      });
  languages->add_flag("--speak", *speakable, "The languages it speaks instead");
  set_help_footer(*languages, "Prints one code per line; --json gives {\"status\", \"Languages\": [...]}.",
                  {"qninet languages --json"});

  auto language = std::make_shared<std::string>();
  auto output = std::make_shared<std::string>();
  auto speakText = std::make_shared<std::string>();
  auto* speak = add_translator_command(
      app, state, "speak", "Write a text spoken by the service (its audio bytes) to a file",
      std::make_shared<TranslatorOptions>(),
      [language, output, speakText](Run& run, TQNMSTranslator& t) -> int {
        if (const int code = run.Destination(*output)) return code;
        // "-" is standard output: the audio goes through a file of this run's own first.
        const bool toStdout = *output == "-";
        const std::string file =
            toStdout
                ? (std::filesystem::temp_directory_path() / ("qninet-speak-" + std::to_string(::getpid())))
                      .string()
                : *output;
        try {
          t.SpeakText(FromUtf8(*language), FromUtf8(file), FromUtf8(*speakText));
        } catch (const EFCreateError& e) {
          return run.Fail(exBadInput, *output, e.what());
        }
        if (const int code = outcome(run, t)) return code;
        std::error_code ec;
        run.Json()["File"] = *output;
        run.Json()["Size"] = std::filesystem::file_size(file, ec);
        if (!toStdout) return exOk;
        std::ifstream in(file, std::ios::binary);
        std::cout << in.rdbuf();
        std::cout.flush();
        std::filesystem::remove(file, ec);
        return exOk;
      });
  speak->add_option("--language", *language, "Language code of the voice")->required();
  speak->add_option("-o,--output", *output, "The audio file to write (- is standard output)")->required();
  speak->add_option("TEXT", *speakText, "The text (UTF-8)")->required();
  speak->footer(
      "The file is replaced only when the whole audio arrived; on a failure it stays as it was.\n"
      "--json gives {\"status\", \"File\", \"Size\"}.");
  add_examples(*speak, {"qninet speak --language en -o hello.wav \"Hello\""});
});

}  // namespace
}  // namespace qninet::tool
