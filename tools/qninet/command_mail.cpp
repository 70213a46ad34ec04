// `qninet mail`: sends one message with attachments over SMTP (TQNISMTP), and the demo step
// that mails a small SMTP server thread of its own on loopback.

#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Loopback.h"
#include "Options.h"
#include "qninet/socket/QNISMTP.h"

namespace qninet::tool {
namespace {

struct Options {
  std::string From;
  std::string To, Cc, Bcc, ReplyTo;
  std::string Subject;
  std::string Body;
  std::string BodyFile;
  std::vector<std::string> Attach;
  std::string User, Password;
  int Priority = 3;
  std::string CharSet, Encoding;
  std::string Tls = "none";
  std::string Auth = "login";
};

struct Attachment {
  std::string File, Type, Encoding;
};

/// "FILE[:TYPE[:ENCODING]]": a type holds a "/", an encoding does not, so a file name with
/// colons of its own stays whole.
Attachment parse_attach(const std::string& arg) {
  Attachment a{arg, "", ""};
  const auto last = arg.rfind(':');
  if (last == std::string::npos) return a;
  const std::string tail = arg.substr(last + 1);
  if (tail.find('/') != std::string::npos) {
    a.File = arg.substr(0, last);
    a.Type = tail;
    return a;
  }
  const auto second = last == 0 ? std::string::npos : arg.rfind(':', last - 1);
  if (second != std::string::npos) {
    const std::string type = arg.substr(second + 1, last - second - 1);
    if (type.find('/') != std::string::npos || type.empty()) {
      a.File = arg.substr(0, second);
      a.Type = type;
      a.Encoding = tail;
    }
  }
  return a;
}

bool ascii(const std::string& s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

bool known_encoding(const std::string& e) {
  return e.empty() || SameText(FromUtf8(e), u"base64") || SameText(FromUtf8(e), u"quoted-printable") ||
         SameText(FromUtf8(e), u"7bit") || SameText(FromUtf8(e), u"8bit");
}

int run(Run& run, const Options& o) {
  // Every local input and encoding is checked before the server is reached.
  if (!known_encoding(o.Encoding))
    return run.Fail(exBadInput, "--encoding",
                    "unknown encoding '" + o.Encoding + "' (7bit, 8bit, quoted-printable or base64)");
  for (const std::string& arg : o.Attach) {
    const Attachment a = parse_attach(arg);
    if (!known_encoding(a.Encoding))
      return run.Fail(exBadInput, "--attach " + arg,
                      "unknown encoding '" + a.Encoding + "' (base64, quoted-printable, 7bit or 8bit)");
    if (const int code = run.Input(a.File)) return code;
  }
  if (!o.BodyFile.empty()) {
    if (const int code = run.Input(o.BodyFile)) return code;
  }
  TQNISMTP smtp(nullptr);
  smtp.SetPort(25);
  // Before the common options, so that implicit TLS takes port 465 unless one is given.
  smtp.SetUseTLS(o.Tls == "implicit" ? tlsImplicit : o.Tls == "starttls" ? tlsStartTLS : tlsNone);
  smtp.SetAuthMethod(o.Auth == "plain"         ? amPlain
                     : o.Auth == "cram-md5"    ? amCramMD5
                     : o.Auth == "auto"        ? amAuto
                     : o.Auth == "xoauth2"     ? amXOAuth2
                     : o.Auth == "oauthbearer" ? amOAuthBearer
                                               : amLogin);
  if (const int code = run.Configure(smtp)) return code;
  // -v traces the dialogue line by line; the engine's "Received 0 bytes" would say nothing.
  smtp.SetOnAfterExecute(nullptr);
  std::string token;
  if (const int code = run.AccessToken(token)) return code;
  const bool bearer = o.Auth == "xoauth2" || o.Auth == "oauthbearer";
  if (bearer && token.empty())
    return run.Fail(exBadInput, "",
                    "--auth " + o.Auth + " needs --oauth-token TOKEN or --oauth-token-file FILE");
  if (bearer && o.User.empty())
    return run.Fail(exBadInput, "", "--auth " + o.Auth + " needs --user, the account the token belongs to");
  if (!token.empty() && !bearer && o.Auth != "auto")
    return run.Fail(exBadInput, "", "a token goes with --auth xoauth2, oauthbearer or auto, not " + o.Auth);
  smtp.SetAccessToken(FromUtf8(token));
  smtp.From()->SetText(FromUtf8(o.From));
  smtp.Recipients()->SetEMailAddresses(FromUtf8(o.To));
  smtp.CC()->SetEMailAddresses(FromUtf8(o.Cc));
  smtp.BCC()->SetEMailAddresses(FromUtf8(o.Bcc));
  smtp.ReplyTo()->SetEMailAddresses(FromUtf8(o.ReplyTo));
  smtp.SetSubject(FromUtf8(o.Subject));
  std::string body = o.Body;
  if (!o.BodyFile.empty()) {
    std::ifstream in(o.BodyFile, std::ios::binary);
    if (!in) return run.Fail(exBadInput, o.BodyFile, "cannot read the body file");
    std::ostringstream text;
    text << in.rdbuf();
    body = text.str();
  }
  smtp.Body()->SetText(FromUtf8(body));
  smtp.SetPriority(static_cast<TQNISMTPPriority>(o.Priority - 1));
  // Text from the command line is UTF-8; plain ASCII mail stays in its classic form.
  const bool plain = ascii(body) && ascii(o.Subject) && ascii(o.From) && ascii(o.To) && ascii(o.Cc);
  smtp.SetCharSet(FromUtf8(!o.CharSet.empty() ? o.CharSet : plain ? "us-ascii" : "utf-8"));
  smtp.SetEncoding(FromUtf8(!o.Encoding.empty() ? o.Encoding : ascii(body) ? "7bit" : "quoted-printable"));
  for (const std::string& arg : o.Attach) {
    const Attachment a = parse_attach(arg);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(a.File, ec)) return run.Fail(exBadInput, a.File, "no such file");
    auto* item = smtp.Attachments()->Add();
    item->SetFileName(FromUtf8(a.File));
    if (a.Type.empty())
      item->DetectContentType();
    else
      item->SetContentType(FromUtf8(a.Type));
    item->SetEncoding(FromUtf8(a.Encoding.empty() ? "base64" : a.Encoding));
  }
  if (!o.User.empty()) {
    smtp.Login()->SetUseLogin(true);
    smtp.Login()->SetUserID(FromUtf8(o.User));
    smtp.Login()->SetPassword(FromUtf8(o.Password));
  }
  if (smtp.Host().empty() && smtp.Address().empty())
    return run.Fail(exBadInput, "", "no server given (--host)");
  String result;
  try {
    result = smtp.Execute();
  } catch (const Exception& e) {
    return run.Fail(exFailed, Run::Endpoint(smtp), e.what());
  }
  // A refusal comes back as the result; with an empty result the message was accepted, and
  // `LastError` can only hold a warning about the end of the session.
  if (!result.empty()) return run.Fail(exFailed, Run::Endpoint(smtp), ToUtf8(result));
  if (!smtp.LastError().empty()) {
    run.Json()["Warning"] = ToUtf8(smtp.LastError());
    std::cerr << "qninet mail: " << ToUtf8(smtp.LastError()) << '\n';
  }
  return exOk;
}

const CommandRegistrar registrar(300, [](CLI::App& app, RunState& state) {
  auto o = std::make_shared<Options>();
  auto* cmd = add_command(
      app, state, "mail", "Send a mail message with attachments over SMTP",
      Offer{.Host = "none, port 25", .Timeout = 60, .Proxy = true, .CaCert = true, .OAuthToken = true},
      [o](Run& r) { return run(r, *o); });
  cmd->footer(
      "LIST is a comma-separated address list: \"Name <addr>\", \"addr (Name)\" or a bare\n"
      "address; a comma inside a quoted name stays in the name. BCC recipients get the message\n"
      "but appear in no header. Text that is not ASCII is sent in UTF-8 unless --charset names\n"
      "another charset; a subject or name in it goes as RFC 2047 encoded words. An address\n"
      "outside ASCII goes in UTF-8 when the server offers SMTPUTF8 (else its domain as\n"
      "A-labels); --encoding 8bit sends the text as it is when the server offers 8BITMIME.\n"
      "Exit codes: 0 the server accepted the message; 1 it did not, or it could not be reached\n"
      "(the server's reply, such as \"Error 250: 550 5.1.1 ...\", goes to standard error);\n"
      "2 bad options or a missing file.\n"
      "Example: qninet mail --host 127.0.0.1 --port 2525 --from me@example.com \\\n"
      "           --to \"Ann <ann@example.com>\" --subject Hello --body \"Hi Ann\" \\\n"
      "           --attach report.pdf --attach notes.txt:text/plain:quoted-printable");
  cmd->get_option("--host")->required();
  cmd->add_option("--from", o->From, "The sender, ADDR or \"Name <ADDR>\"")->required();
  cmd->add_option("--to", o->To, "Primary recipients (LIST)")->required();
  cmd->add_option("--cc", o->Cc, "Copy recipients (LIST), named in the Cc header");
  cmd->add_option("--bcc", o->Bcc, "Blind copy recipients (LIST), named in no header");
  cmd->add_option("--reply-to", o->ReplyTo, "Addresses for replies (LIST)");
  cmd->add_option("--subject", o->Subject, "The subject line");
  auto* body = cmd->add_option("--body", o->Body, "The message text (line breaks split it into lines)");
  cmd->add_option("--body-file", o->BodyFile, "Read the message text from this file (UTF-8)")->excludes(body);
  cmd->add_option("--attach", o->Attach,
                  "Attach FILE[:TYPE[:ENCODING]]; TYPE defaults to the system's type for the "
                  "extension, ENCODING to base64 (also quoted-printable, 7bit); repeatable");
  auto* user = cmd->add_option("--user", o->User, "Log in with this account (AUTH after EHLO)");
  cmd->add_option("--password", o->Password, "The account's password")->needs(user);
  cmd->add_option("--auth", o->Auth,
                  "How --user logs in: login, plain, cram-md5, xoauth2 or oauthbearer (with a token), "
                  "or auto (the strongest the server offers; OAUTHBEARER, then XOAUTH2, with a token)")
      ->check(CLI::IsMember({"login", "plain", "cram-md5", "xoauth2", "oauthbearer", "auto"}))
      ->capture_default_str();
  cmd->add_option("--tls", o->Tls,
                  "TLS: none, starttls (upgrade after EHLO; the login is never sent in clear), or "
                  "implicit (TLS from the first byte, port 465 unless given)")
      ->check(CLI::IsMember({"none", "starttls", "implicit"}))
      ->capture_default_str();
  cmd->add_option("--priority", o->Priority, "X-Priority from 1 (highest) to 5 (lowest), default 3")
      ->check(CLI::Range(1, 5));
  cmd->add_option("--charset", o->CharSet,
                  "Charset of the text part (default us-ascii for ASCII text, else utf-8)");
  cmd->add_option("--encoding", o->Encoding,
                  "Transfer encoding of the text part: 7bit, 8bit, quoted-printable or base64 (default "
                  "7bit for ASCII text, else quoted-printable)");
});

// --- the demo step: a small SMTP server thread on loopback ---------------------------------

const DemoRegistrar demo(DemoStep{
    300, "Mail: a message to a loopback SMTP server", [](std::ostream& out) {
      // HELO, RSET, MAIL, two RCPT (Ann and the blind copy), DATA, the message, QUIT.
      loopback::ScriptedServer server(
          loopback::Script::LineDialogue("220 demo.loopback ESMTP ready\r\n",
                                         {"250 demo.loopback\r\n", "250 Ok\r\n", "250 Ok\r\n", "250 Ok\r\n",
                                          "250 Ok\r\n", "354 End data with <CR><LF>.<CR><LF>\r\n"})
              .ReadUntil("\r\n.\r\n")
              .Send("250 Ok: queued\r\n")
              .ReplyToLines({"221 Bye\r\n"}));
      TQNISMTP smtp(nullptr);
      smtp.SetHost(u"127.0.0.1");
      smtp.SetPort(server.Port());
      smtp.SetTimeout(5000);
      smtp.From()->SetText(u"Demo Sender <demo@qninet.test>");
      smtp.Recipients()->SetEMailAddresses(u"Ann <ann@qninet.test>");
      smtp.BCC()->SetEMailAddresses(u"archive@qninet.test");
      smtp.SetCharSet(u"utf-8");
      smtp.SetSubject(S("Grüße aus der Demo"));
      smtp.Body()->SetText(u"Hello Ann,\r\n.\r\nthe line above is a single period.");
      out << "sending to the loopback server on port " << server.Port() << "\n";
      const String result = smtp.Execute();
      if (!result.empty()) {
        out << "refused: " << ToUtf8(result) << "\n";
        return false;
      }
      const std::string received = server.Received(0);
      const auto dataAt = received.find("DATA\r\n");
      if (dataAt == std::string::npos) return false;
      out << "the server received these commands:\n";
      std::istringstream commands(received.substr(0, dataAt + 4));
      for (std::string line; std::getline(commands, line);)
        out << "  " << line.substr(0, line.find('\r')) << "\n";
      out << "and this message:\n";
      const std::string message =
          received.substr(dataAt + 6, received.find("\r\n.\r\n", dataAt) - dataAt - 6);
      std::istringstream data(message);
      std::string line;
      bool sawStuffed = false;
      while (std::getline(data, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == "..") sawStuffed = true;
        out << "  | " << line << "\n";
      }
      return sawStuffed && message.find("Subject: =?utf-8?B?") != std::string::npos;
    }});

}  // namespace
}  // namespace qninet::tool
