#include "Options.h"

#include <cmath>
#include <fstream>
#include <iostream>
#include <sstream>

#include "qninet/core/Url.h"
#include "qninet/web/qniupdate.h"

namespace qninet::tool {

namespace {

const char* error_event_name(TErrorEvent e) {
  switch (e) {
    case eeSend:
      return "send";
    case eeReceive:
      return "receive";
    case eeConnect:
      return "connect";
    case eeDisconnect:
      return "disconnect";
    case eeAccept:
      return "accept";
    case eeLookup:
      return "lookup";
    default:
      return "general";
  }
}

std::string socket_endpoint(const platform::TClientSocket* s) {
  return HostPort{ToUtf8(s->Address().empty() ? s->Host() : s->Address()),
                  static_cast<std::uint16_t>(s->Port())}
      .ToString();
}

/// Each socket notification as one line on standard error.
void hook_verbose(TQNInetBase& c) {
  c.SetOnLookup([](TObject*, platform::TClientSocket* s) {
    std::cerr << "* looking up " << ToUtf8(s->Host()) << '\n';
  });
  c.SetOnConnecting([](TObject*, platform::TClientSocket* s) {
    std::cerr << "* connecting to " << socket_endpoint(s) << '\n';
  });
  c.SetOnConnect([](TObject*, platform::TClientSocket* s) {
    std::cerr << "* connected to " << ToUtf8(s->RemoteAddress()) << '\n';
  });
  c.SetOnDisconnect([](TObject*, platform::TClientSocket*) { std::cerr << "* disconnected\n"; });
  c.SetOnError([](TObject*, platform::TClientSocket*, TErrorEvent e, Integer& code) {
    std::cerr << "* error during " << error_event_name(e) << " (code " << code << ")\n";
  });
}

bool valid_utf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

// Seconds as given (0: no limit) in milliseconds; a positive value is at least 1 ms.
long long timeout_ms(double seconds) { return seconds > 0 ? std::max(1LL, std::llround(seconds * 1000)) : 0; }

void set_proxy_user(TQNInetProxy& proxy, const std::string& userPassword) {
  const auto colon = userPassword.find(':');
  proxy.SetUser(FromUtf8(userPassword.substr(0, colon)));
  proxy.SetPassword(colon == std::string::npos ? String() : FromUtf8(userPassword.substr(colon + 1)));
}

}  // namespace

std::string json_text(const String& wire) {
  std::string bytes = ToBytes(wire);
  return valid_utf8(bytes) ? bytes : ToUtf8(wire);
}

nlohmann::ordered_json lines_json(const TStrings& lines) {
  auto list = nlohmann::ordered_json::array();
  for (int i = 0; i < lines.Count(); ++i) list.push_back(json_text(lines.Strings(i)));
  return list;
}

const char* status_word(int code) {
  switch (code) {
    case exOk:
      return "ok";
    case exBadInput:
      return "bad-input";
    case exNotFound:
      return "not-found";
    default:
      return "failed";
  }
}

int Run::Fail(int code, const std::string& about, const std::string& said) {
  // A failure that already names its endpoint ("127.0.0.1:43: Connection refused") names it once.
  std::string what = said;
  if (const std::string bare = about.substr(0, about.find(" ("));
      !bare.empty() && what.starts_with(bare + ": "))
    what.erase(0, bare.size() + 2);
  if (!FOptions.Quiet)
    std::cerr << "qninet " << FSub << ": " << (about.empty() ? "" : about + ": ") << what << '\n';
  FError = about.empty() ? what : about + ": " + what;
  return code;
}

int Run::Finish(int code) {
  if (!FOptions.Json || FWroteJson) return code;
  nlohmann::ordered_json out = {{"status", status_word(code)}};
  if (code != exOk && !FError.empty()) out["error"] = FError;
  for (auto& [key, value] : FJson.items()) out[key] = value;
  std::cout << out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
  return code;
}

int Run::Configure(TQNInetBase& c) {
  const CommonOptions& o = FOptions;
  if (!o.Host.empty()) {
    String why;
    const auto hp = HostPort::Parse(o.Host, 0, &why);
    if (!hp) return Fail(exBadInput, "--host " + o.Host, ToUtf8(why));
    c.SetHost(FromUtf8(hp->Host));
    if (hp->Port != 0) c.SetPort(hp->Port);
  }
  if (o.Port > 0) c.SetPort(o.Port);
  if (o.Timeout >= 0) c.SetTimeout(static_cast<Integer>(timeout_ms(o.Timeout)));
  if (o.MaxTime >= 0) c.SetMaxTime(o.MaxTime);
  if (const int code = ApplyProxy(*c.Proxy()); code != exOk) return code;
  if (const int code = ApplyCaFile(c); code != exOk) return code;
  c.SetLoginPrompt(false);
  if (o.Verbose) hook_verbose(c);
  return exOk;
}

int Run::Configure(TQNCustomWebComponent& c) {
  const CommonOptions& o = FOptions;
  if (o.Timeout >= 0) c.SetTimeout(static_cast<Cardinal>(timeout_ms(o.Timeout)));
  if (o.MaxTime >= 0) c.SetMaxTime(static_cast<Cardinal>(o.MaxTime));
  if (const int code = ApplyProxy(*c.Proxy()); code != exOk) return code;
  // A proxy named on the command line wins over the environment's.
  if (!o.Proxy.empty()) c.SetLoadSystemProxy(false);
  if (!o.ProxyUser.empty() && o.Proxy.empty()) set_proxy_user(*c.Proxy(), o.ProxyUser);
  if (const int code = ApplyCaFile(c); code != exOk) return code;
  if (o.Verbose)
    c.SetOnActionChange([&c](TObject*) {
      std::cerr << "* " << ToUtf8(EnumInfoOf(static_cast<TQNIAction*>(nullptr)).NameOf(c.Action())) << '\n';
    });
  return exOk;
}

int Run::ApplyProxy(TQNInetProxy& proxy) {
  const CommonOptions& o = FOptions;
  if (o.Proxy.empty()) return exOk;
  const auto hp = HostPort::Parse(o.Proxy);
  if (!hp || hp->Port == 0) return Fail(exBadInput, "", "--proxy wants HOST:PORT, got \"" + o.Proxy + "\"");
  proxy.SetUseProxy(true);
  proxy.SetServer(FromUtf8(hp->Host));
  proxy.SetPort(hp->Port);
  set_proxy_user(proxy, o.ProxyUser);
  return exOk;
}

template <class Component>
int Run::ApplyCaFile(Component& c) {
  const std::string& file = FOptions.CaCert;
  if (file.empty()) return exOk;
  if (!std::ifstream(file)) return Fail(exBadInput, file, "cannot read the CA file");
  c.SetCAFile(FromUtf8(file));
  return exOk;
}

std::string Run::Endpoint(const TQNInetBase& c) {
  const TQNInetProxy& proxy = *c.Proxy();
  if (proxy.UseProxy() && !proxy.Server().empty())
    return HostPort{ToUtf8(proxy.Server()), static_cast<std::uint16_t>(proxy.Port())}.ToString() + " (proxy)";
  return HostPort{ToUtf8(c.Address().empty() ? c.Host() : c.Address()), static_cast<std::uint16_t>(c.Port())}
      .ToString();
}

int Run::AccessToken(std::string& token) {
  token = FOptions.OAuthToken;
  const std::string& file = FOptions.OAuthTokenFile;
  if (file.empty()) return exOk;
  std::ifstream in(file, std::ios::binary);
  if (!in) return Fail(exBadInput, file, "cannot read the token file");
  std::getline(in, token);
  while (!token.empty() && (token.back() == '\r' || token.back() == ' ' || token.back() == '\t'))
    token.pop_back();
  if (token.empty()) return Fail(exBadInput, file, "the token file holds no token");
  return exOk;
}

int Run::PrintAnswer(const String& answer) {
  if (FOptions.Json) {
    FJson["Answer"] = json_text(answer);
  } else {
    std::cout << ToBytes(answer);
    std::cout.flush();
  }
  return exOk;
}

int Run::Save(const std::string& file, std::string_view bytes) {
  try {
    ReplaceFileContents(FromUtf8(file), bytes);
  } catch (const Exception& e) {
    return Fail(exBadInput, file, e.what());
  }
  return exOk;
}

int Run::Execute(TQNInetBase& c, String& answer) {
  if (c.Host().empty() && c.Address().empty()) return Fail(exBadInput, "", "no server given (--host)");
  try {
    answer = c.Execute();
  } catch (const Exception& e) {
    return Fail(exFailed, Endpoint(c), e.what());
  }
  if (!c.LastError().empty()) return Fail(exFailed, Endpoint(c), ToUtf8(c.LastError()));
  return exOk;
}

CLI::App* add_command(CLI::App& app, RunState& state, const std::string& name, const std::string& description,
                      const Offer& offer, RunBody body) {
  auto* cmd = app.add_subcommand(name, description);
  auto o = std::make_shared<CommonOptions>();
  if (offer.Host) {
    cmd->add_option(
        offer.HostNames, o->Host,
        std::string("Server: NAME, ADDRESS, HOST:PORT or [v6]:PORT (default ") + offer.Host + ")");
    cmd->add_option("--port", o->Port, "Port; overrides one given with --host")->check(CLI::Range(1, 65535));
  }
  if (offer.Timeout >= 0) {
    std::ostringstream help;
    help << "Seconds that connecting and each wait for data may take, decimals allowed (default "
         << offer.Timeout << "; 0: no limit)";
    cmd->add_option("--timeout", o->Timeout, help.str())->check(CLI::Range(0.0, 2000000.0));
    cmd->add_option("--max-time", o->MaxTime,
                    "Seconds that the whole exchange may take (default 0: no limit)")
        ->check(CLI::Range(0, 2000000));
  }
  if (offer.Proxy) {
    cmd->add_option("--proxy", o->Proxy, "Connect through this proxy, HOST:PORT ([v6]:PORT for IPv6)");
    cmd->add_option("--proxy-user", o->ProxyUser, "Credentials for the proxy, USER[:PASSWORD]");
  }
  if (offer.CaCert)
    cmd->add_option("--cacert", o->CaCert, "One more CA file to trust for TLS (as QNINET_CA_FILE)");
  if (offer.OAuthToken) {
    auto* token =
        cmd->add_option("--oauth-token", o->OAuthToken, "An OAuth 2.0 bearer token (XOAUTH2, OAUTHBEARER)");
    cmd->add_option("--oauth-token-file", o->OAuthTokenFile,
                    "Read the bearer token from the first line of FILE (keeps it out of the process list)")
        ->excludes(token);
  }
  if (offer.Verbose)
    cmd->add_flag("-v,--verbose", o->Verbose, "Print each step of the connection on standard error");
  cmd->add_flag("-q,--quiet", o->Quiet, "Print no error messages (the exit code still tells)");
  cmd->add_flag("--json", o->Json, "Print one JSON object with \"status\" and the results");
  cmd->callback([&state, name, o, body = std::move(body)] {
    Run run(name, *o);
    int code;
    try {
      code = body(run);
    } catch (const std::exception& e) {
      code = run.Fail(exFailed, "", e.what());
    }
    state.ExitCode = run.Finish(code);
  });
  return cmd;
}

int Run::Target(TQNCustomWebComponent& c, const std::string& target,
                const std::function<void(const String&)>& path) {
  if (target.find("://") == std::string::npos) {
    c.SetService(isNetwork);
    path(FromUtf8(target));
    return exOk;
  }
  try {
    c.SetURL(FromUtf8(target));
  } catch (const Exception& e) {
    return Fail(exBadInput, "", e.what());
  }
  return exOk;
}

int SecretOption::Read(Run& run, std::string& out) const {
  if (File.empty()) {
    out = Value;
    return exOk;
  }
  std::ifstream in(File, std::ios::binary);
  if (!in || !std::getline(in, out)) return run.Fail(exBadInput, File, "cannot read the file");
  if (!out.empty() && out.back() == '\r') out.pop_back();
  return exOk;
}

void add_secret_option(CLI::App& cmd, const std::string& name, const std::string& what, SecretOption& o) {
  auto* value = cmd.add_option("--" + name, o.Value, what);
  cmd.add_option("--" + name + "-file", o.File, what + ", read from the first line of this file")
      ->excludes(value);
}

}  // namespace qninet::tool
