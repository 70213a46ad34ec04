"""aiosmtpd on 127.0.0.1, storing each message as DIR/messages/msg-NNNN.eml (the DATA bytes)
beside msg-NNNN.json (the envelope), logging each EHLO, AUTH and MAIL to DIR/commands.log, and
every byte received (in clear) to DIR/received.log.

usage: smtp_server.py PORT DIR USER PASSWORD REQUIRE_AUTH REFUSED TLS CERT KEY EXCLUDED TOKEN SMTPUTF8 8BITMIME
       (as SmtpServer in ServerLaunch.h passes them)
       smtp_server.py read FILE: the stored message as Python's email package reads it, as JSON
"""
import asyncio, base64, binascii, email, hashlib, hmac, json, logging, os, ssl, sys
from email import policy

def read(path):
    msg = email.message_from_bytes(open(path, "rb").read(), policy=policy.default)
    out = {name: None if msg.get(name) is None else str(msg.get(name))
           for name in ["From", "To", "Cc", "Bcc", "Reply-To", "Date", "X-Priority", "Subject", "Message-Id",
                        "X-Mailer"]}
    out["defects"] = [str(d) for p in msg.walk() for d in p.defects]
    out["parts"] = [{"type": p.get_content_type(), "filename": p.get_filename(), "charset": p.get_content_charset(),
                     "attachment": p.get_content_disposition() == "attachment",
                     "hex": (p.get_payload(decode=True) or b"").hex(),
                     "text": p.get_content() if p.get_content_maintype() == "text" else None}
                    for p in msg.walk() if not p.is_multipart()]
    out["date_parsed"] = None if msg["Date"] is None else msg["Date"].datetime.isoformat()
    print(json.dumps(out))

if sys.argv[1] == "read":
    read(sys.argv[2])
    sys.exit(0)

from aiosmtpd.smtp import MISSING, SMTP, AuthResult, LoginPassword

port, folder, user, password, require_auth, refused, tls, cert, key, excluded, token, smtputf8, eightbit = \
    sys.argv[1:14]
token, excluded = token.encode(), excluded + ("" if token else ",XOAUTH2,OAUTHBEARER")
received = open(os.path.join(folder, "received.log"), "ab", buffering=0)
user, password = user.encode(), password.encode()
refused = {r.lower() for r in refused.split(",") if r}
messages = os.path.join(folder, "messages")
commands = open(os.path.join(folder, "commands.log"), "a", buffering=1)
context = None
if tls != "none":
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert, key)

class Handler:
    count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.lower() in refused:
            return "550 5.1.1 <%s>: Recipient address rejected" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(messages, "msg-%04d" % self.count)
        with open(base + ".json", "w") as f:
            json.dump({"mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos}, f)
        data = envelope.original_content if envelope.original_content is not None else envelope.content
        if isinstance(data, str):
            data = data.encode("utf-8", "surrogateescape")
        with open(base + ".part", "wb") as f:  # renamed when whole: a reader never sees half of it
            f.write(data)
        os.rename(base + ".part", base + ".eml")
        return "250 Message accepted for delivery"

class Server(SMTP):
    def data_received(self, data):
        received.write(data)
        super().data_received(data)

    # XOAUTH2 and OAUTHBEARER (RFC 7628 section 3.2.2): a refused token gets the JSON error in a
    # 334, which the client must answer with an empty line (XOAUTH2) or ^A before the 535.
    async def _bearer(self, args, first, error, dummy):
        try:
            fields = base64.b64decode(args[1], validate=True).split(b"\x01")
        except (IndexError, binascii.Error):
            return AuthResult(success=False, handled=False, message="501 5.5.2 no initial response")
        if fields[0] == first and fields[-2:] == [b"", b""] and b"auth=Bearer " + token in fields:
            return AuthResult(success=True, handled=False)
        answer = await self.challenge_auth(json.dumps(error))
        return AuthResult(success=False, handled=answer is MISSING,
                          message=None if answer == dummy else "501 5.5.2 wrong answer to the error")

    async def auth_XOAUTH2(self, _, args):
        return await self._bearer(args, b"user=" + user, {"status": "401", "schemes": "bearer"}, b"")

    async def auth_OAUTHBEARER(self, _, args):
        return await self._bearer(args, b"n,a=" + user + b",", {"status": "invalid_token", "scope": "mail"}, b"\x01")

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
        challenge = ("<%d.%d@%s>" % (os.getpid(), id(self), "qninet.test")).encode()
        response = await self.challenge_auth(challenge)
        if response is MISSING:
            return AuthResult(success=False, handled=False)
        login, _, digest = response.partition(b" ")
        expected = hmac.new(password, challenge, hashlib.md5).hexdigest().encode()
        return AuthResult(success=bool(user) and login == user and hmac.compare_digest(digest, expected),
                          handled=False)

def authenticator(server, session, envelope, mechanism, auth_data):
    ok = bool(user) and isinstance(auth_data, LoginPassword) and (auth_data.login, auth_data.password) == (user, password)
    return AuthResult(success=ok, handled=False)

async def main():
    handler = Handler()
    server = await asyncio.get_running_loop().create_server(
        lambda: Server(handler, hostname="qninet.test", auth_require_tls=False, auth_required=require_auth == "1",
                       authenticator=authenticator, tls_context=context if tls == "starttls" else None,
                       auth_exclude_mechanism=[m for m in excluded.split(",") if m],
                       enable_SMTPUTF8=smtputf8 == "1", decode_data=eightbit == "0"),
        host="127.0.0.1", port=int(port), ssl=context if tls == "implicit" else None)
    async with server:
        await server.serve_forever()

logging.basicConfig(level=logging.INFO, stream=sys.stderr)
asyncio.run(main())
