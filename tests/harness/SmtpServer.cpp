#include "harness/SmtpServer.h"

#include "harness/Ports.h"
#include "harness/ServerLaunch.h"
#include "harness/TcpClient.h"

#include <cstdio>
#include <thread>

namespace qninet::harness {
namespace {

const char* const kScript = R"PY(import asyncio
import json
import logging
import hashlib
import hmac
import os
import ssl
import sys

from aiosmtpd.smtp import MISSING, SMTP, AuthResult, LoginPassword

config = json.load(open(sys.argv[1]))
out_dir = config["out"]
refused = {r.lower() for r in config["refused"]}
user = config["user"].encode()
password = config["password"].encode()


class Handler:
    def __init__(self):
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.lower() in refused:
            return "550 5.1.1 <%s>: Recipient address rejected" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(out_dir, "msg-%d" % self.count)
        with open(base + ".json", "w") as f:
            json.dump({"mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos}, f)
        data = envelope.original_content
        if data is None:
            data = envelope.content
        if isinstance(data, str):
            data = data.encode("utf-8", "surrogateescape")
        # Written under a temporary name, so a reader never sees half a message.
        with open(base + ".part", "wb") as f:
            f.write(data)
        os.rename(base + ".part", base + ".eml")
        return "250 Message accepted for delivery"


tls = config["tls"]
context = None
if tls != "none":
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(config["cert"], config["key"])
commands = open(os.path.join(config["dir"], "commands.log"), "a", buffering=1)


class Server(SMTP):
    def _log(self, verb, arg):
        encrypted = self.transport.get_extra_info("ssl_object") is not None
        commands.write("%s %s tls=%s\n" % (verb, arg, "yes" if encrypted else "no"))

    async def smtp_EHLO(self, arg):
        self._log("EHLO", "")
        await super().smtp_EHLO(arg)

    async def smtp_AUTH(self, arg):
        self._log("AUTH", (arg or "").split(" ")[0].upper())
        await super().smtp_AUTH(arg)

    async def smtp_MAIL(self, arg):
        self._log("MAIL", "")
        await super().smtp_MAIL(arg)

    # RFC 2195: the client answers the challenge with its name and the HMAC-MD5 of it.
    async def auth_CRAM__MD5(self, _, args):
        challenge = ("<%d.%d@%s>" % (os.getpid(), id(self), config["hostname"])).encode()
        response = await self.challenge_auth(challenge)
        if response is MISSING:
            return AuthResult(success=False, handled=False)
        login, _, digest = response.partition(b" ")
        expected = hmac.new(password, challenge, hashlib.md5).hexdigest().encode()
        ok = bool(user) and login == user and hmac.compare_digest(digest, expected)
        return AuthResult(success=ok, handled=False)


def authenticator(server, session, envelope, mechanism, auth_data):
    ok = (bool(user) and isinstance(auth_data, LoginPassword)
          and auth_data.login == user and auth_data.password == password)
    return AuthResult(success=ok, handled=False)


async def main():
    handler = Handler()
    loop = asyncio.get_running_loop()

    def factory():
        return Server(handler, hostname=config["hostname"], auth_require_tls=False,
                      auth_required=config["require_auth"], authenticator=authenticator,
                      tls_context=context if tls == "starttls" else None,
                      auth_exclude_mechanism=config["exclude"])

    server = await loop.create_server(factory, host="127.0.0.1", port=config["port"],
                                      ssl=context if tls == "implicit" else None)
    async with server:
        await server.serve_forever()


logging.basicConfig(level=logging.INFO, stream=sys.stderr)
asyncio.run(main())
)PY";

std::string json_string(const std::string& s) {
  std::string out = "\"";
  for (unsigned char ch : s) {
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += static_cast<char>(ch);
    } else if (ch < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", ch);
      out += buf;
    } else {
      out += static_cast<char>(ch);
    }
  }
  return out + "\"";
}

}  // namespace

SmtpServer::SmtpServer(Options options) {
  const std::string python = RequireProgram("/usr/bin/python3", "python3-aiosmtpd");
  FMessages = FDir.Path() / "messages";
  std::filesystem::create_directories(FMessages);
  FPort = FreePort();
  const auto json_list = [](const std::vector<std::string>& items) {
    std::string list;
    for (const auto& r : items) {
      if (!list.empty()) list += ',';
      list += json_string(r);
    }
    return "[" + list + "]";
  };
  const char* const tlsModes[] = {"none", "starttls", "implicit"};
  std::string config =
      "{\"port\": " + std::to_string(FPort) + ", \"out\": " + json_string(FMessages.string()) +
      ", \"user\": " + json_string(options.User) + ", \"password\": " + json_string(options.Password) +
      ", \"require_auth\": " + (options.RequireAuth ? "true" : "false") +
      ", \"refused\": " + json_list(options.RefusedRecipients) +
      ", \"hostname\": " + json_string(options.Hostname) + ", \"tls\": \"" +
      tlsModes[static_cast<int>(options.TlsMode)] +
      "\", \"cert\": " + json_string(options.CertFile.string()) +
      ", \"key\": " + json_string(options.KeyFile.string()) +
      ", \"exclude\": " + json_list(options.ExcludedAuth) +
      ", \"dir\": " + json_string(FDir.Path().string()) + "}";
  auto configFile = FDir.Write("smtpd.json", config);
  auto script = FDir.Write("smtpd.py", kScript);
  FProcess =
      std::make_unique<Process>(std::vector<std::string>{python, "-u", script.string(), configFile.string()},
                                std::map<std::string, std::string>{}, FDir.Path());
  try {
    WaitUntilUp(*FProcess, "aiosmtpd SMTP server", std::chrono::seconds(20), [this, &options] {
      if (!WaitForTcpPort(FPort, std::chrono::milliseconds(100))) return false;
      try {
        // Under implicit TLS the greeting is encrypted: an accepted connection must do.
        if (options.TlsMode == Tls::Implicit) return true;
        TcpClient probe(FPort, "127.0.0.1", std::chrono::seconds(2));
        bool ok = probe.ReadLine().rfind("220", 0) == 0;
        probe.Send("QUIT\r\n");
        return ok;
      } catch (const std::exception&) {
        return false;
      }
    });
  } catch (...) {
    FProcess.reset();
    throw;
  }
}

SmtpServer::~SmtpServer() { Stop(); }

std::vector<std::filesystem::path> SmtpServer::Messages(std::size_t expected,
                                                        std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    std::vector<std::filesystem::path> found;
    for (std::size_t n = 1;; ++n) {
      auto path = FMessages / ("msg-" + std::to_string(n) + ".eml");
      if (!std::filesystem::exists(path)) break;
      found.push_back(path);
    }
    if (found.size() >= expected || std::chrono::steady_clock::now() >= deadline) return found;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::string SmtpServer::Envelope(const std::filesystem::path& message) {
  auto json = message;
  json.replace_extension(".json");
  return ReadFileText(json);
}

std::string SmtpServer::Commands() const {
  const auto path = FDir.Path() / "commands.log";
  return std::filesystem::exists(path) ? ReadFileText(path) : std::string();
}

std::string SmtpServer::LogText() const { return FProcess ? FProcess->Log() : std::string(); }

void SmtpServer::Stop() {
  if (FProcess) FProcess->Stop();
}

namespace {
const char* kMessageReader = R"PY(
import email, json, sys
from email import policy
msg = email.message_from_bytes(open(sys.argv[1], "rb").read(), policy=policy.default)
def header(name):
    v = msg.get(name)
    return None if v is None else str(v)
parts = []
for part in msg.walk():
    if part.is_multipart():
        continue
    data = part.get_payload(decode=True) or b""
    parts.append({"type": part.get_content_type(), "filename": part.get_filename(),
                  "charset": part.get_content_charset(),
                  "attachment": part.get_content_disposition() == "attachment", "hex": data.hex(),
                  "text": part.get_content() if part.get_content_maintype() == "text" else None})
out = {name: header(name) for name in ["From", "To", "Cc", "Bcc", "Reply-To", "Date", "X-Priority",
                                      "Subject", "Message-Id", "X-Mailer"]}
out["defects"] = [str(d) for p in msg.walk() for d in p.defects]
out["parts"] = parts
date = msg["Date"]
out["date_parsed"] = None if date is None else date.datetime.isoformat()
print(json.dumps(out))
)PY";
}  // namespace

std::string ReadStoredMessage(const std::filesystem::path& eml) {
  return RunOrThrow({"/usr/bin/python3", "-c", kMessageReader, eml.string()});
}

std::string HexOf(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

}  // namespace qninet::harness
