"""Loopback HTTPS stand-in for the translator and the UPS tracking services, old APIs and current.

The answer is chosen by the appId (translator v2), the key (v3: "bad-key" or none refused with
401000, "deep" nested 300 deep, "moved" redirected to localhost), the client (UPS REST: a token
for a secret "s3cret", of 30 s for "brief", never taken for "refused", nested for "deep"; only a
client's newest token is taken) or the tracking number. Under /auth/digest/ a file answers only
"joe" with "pw" in Digest (MD5, qop "auth"). Each request is logged before the answer: its method,
then the hex of its target, of its body and of its headers ("Name: value\n" each), blank-separated.

usage: service_fixture.py PORT CERT KEY LOG AUDIO
"""
import base64, hashlib, html, itertools, json, re, secrets, ssl, sys, threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, unquote, urlsplit
from xml.sax.saxutils import escape

PORT, CERT, KEY, LOG, AUDIO = sys.argv[1:6]
LOCK = threading.Lock()

STRING_NS = "http://schemas.microsoft.com/2003/10/Serialization/"
ARRAYS_NS = "http://schemas.microsoft.com/2003/10/Serialization/Arrays"
DECLARATION = '<?xml version="1.0" encoding="utf-8"?>'

LANGUAGES = {"GetLanguagesForTranslate": ["de", "en", "fr", "pt-BR"],
             "GetLanguagesForSpeak": ["de", "en"]}

ERROR_PAGE = ("<html><body><h1>Argument Exception</h1><p>Method: {op}()</p><p>Parameter: appId</p>"
              "<p>Message: Invalid appId&#xD;\nParameter name: appId</p><code></code>"
              "<p>message id=0042.V2_Rest.{op}.1A2B3C</p></body></html>")
FAULT = ('<Fault xmlns="http://schemas.microsoft.com/ws/2005/05/envelope/none"><Code><Value>Receiver</Value>'
         '</Code><Reason><Text xml:lang="en-US">The service is temporarily overloaded &amp; cannot answer.'
         '</Text></Reason></Fault>')

def record(handler, body=b""):
    headers = "".join("%s: %s\n" % item for item in handler.headers.items())
    fields = [handler.path.encode("latin-1"), body, headers.encode("latin-1")]
    with LOCK, open(LOG, "a") as log:
        log.write(" ".join([handler.command] + [f.hex() or "-" for f in fields]) + "\n")

REALM, USER, PASSWORD = "qninet", "joe", "pw"
NONCES = set()

def md5(text):
    return hashlib.md5(text.encode("latin-1")).hexdigest()

def digest_accepts(method, target, header):
    if not header.startswith("Digest "):
        return False
    fields = {k: quoted or bare for k, quoted, bare in re.findall(r'(\w+)=(?:"([^"]*)"|([^\s,]*))', header[7:])}
    if (fields.get("username") != USER or fields.get("realm") != REALM or fields.get("uri") != target
            or fields.get("nonce") not in NONCES or fields.get("qop") != "auth"):
        return False
    ha1 = md5("%s:%s:%s" % (USER, REALM, PASSWORD))
    ha2 = md5("%s:%s" % (method, target))
    expected = md5(":".join([ha1, fields["nonce"], fields.get("nc", ""), fields.get("cnonce", ""), "auth", ha2]))
    return fields.get("response") == expected

def auth_answer(handler, method):
    if digest_accepts(method, handler.path, handler.headers.get("Authorization", "")):
        return 200, "text/plain", ("protected " + handler.path).encode(), None, {}
    nonce = secrets.token_hex(16)
    NONCES.add(nonce)
    challenge = 'Digest realm="%s", qop="auth", algorithm=MD5, nonce="%s"' % (REALM, nonce)
    return 401, "text/plain", b"authorization required", None, {"WWW-Authenticate": challenge}

def ups_address(lines, city, postal, country):
    parts = ["<AddressLine%d>%s</AddressLine%d>" % (i + 1, escape(l), i + 1) for i, l in enumerate(lines)]
    return ("<Address>" + "".join(parts) + "<City>%s</City><StateProvinceCode>XX</StateProvinceCode>"
            "<PostalCode>%s</PostalCode><CountryCode>%s</CountryCode></Address>" % (city, postal, country))

def ups_activity(city, code, description, status, status_text, status_code, date, time, signed=""):
    signed_part = "<SignedForByName>%s</SignedForByName>" % signed if signed else ""
    return ("<Activity><ActivityLocation>" + ups_address([], city, "", "US") +
            "<Code>%s</Code><Description>%s</Description>%s</ActivityLocation>" % (code, description, signed_part) +
            "<Status><StatusType><Code>%s</Code><Description>%s</Description></StatusType>"
            "<StatusCode><Code>%s</Code></StatusCode></Status>" % (status, status_text, status_code) +
            "<Date>%s</Date><Time>%s</Time></Activity>" % (date, time))

def ups_response(context, status, inner):
    description = "Success" if status == "1" else "Failure"
    return ('<?xml version="1.0"?><TrackResponse><Response><TransactionReference><CustomerContext>%s'
            "</CustomerContext><XpciVersion>1.0</XpciVersion></TransactionReference>"
            "<ResponseStatusCode>%s</ResponseStatusCode><ResponseStatusDescription>%s"
            "</ResponseStatusDescription>%s</Response>" % (escape(context), status, description,
                                                             inner if status != "1" else "") +
            (inner if status == "1" else "") + "</TrackResponse>")

def ups_shipment(number, packages):
    return ("<Shipment><Shipper><ShipperNumber>A1B2C3</ShipperNumber>" +
            ups_address(["12 Dock Road", "Unit 4"], "TIMONIUM", "21093", "US") + "</Shipper>"
            "<ShipTo>" + ups_address([], "MONTREAL", "", "CA") + "</ShipTo>"
            "<ShipmentWeight><UnitOfMeasurement><Code>LBS</Code></UnitOfMeasurement><Weight>5.50</Weight>"
            "</ShipmentWeight><Service><Code>002</Code><Description>2ND DAY AIR</Description></Service>"
            "<ShipmentIdentificationNumber>%s</ShipmentIdentificationNumber>"
            "<PickupDate>20120515</PickupDate>" % escape(number) + "".join(packages) + "</Shipment>")

def ups_answer(body):
    text = body.decode("utf-8", "replace")
    found = [re.search(r"<%s>%s(.*?)</%s>" % (tag, skip, tag), text, re.S)
             for tag, skip in (("TrackingNumber", "#?"), ("CustomerContext", ""))]
    number, context = (html.unescape(m.group(1)) if m else "" for m in found)
    if number == "1Z500":
        return 500, "text/plain", b"Internal Server Error"
    if number == "1ZINVALID":
        error = ("<Error><ErrorSeverity>Hard</ErrorSeverity><ErrorCode>151018</ErrorCode>"
                 "<ErrorDescription>Invalid tracking number</ErrorDescription></Error>")
        return 200, "application/xml", ups_response(context, "0", error).encode()
    delivered = ups_activity("ANYTOWN", "ML", "FRONT DOOR", "D", "DELIVERED", "KB", "20120517", "140309", "JONES")
    transit = ups_activity("BALTIMORE", "", "", "I", "ARRIVAL SCAN", "AR", "20120516", "0830")
    origin = ups_activity("TIMONIUM", "", "", "M", "BILLING INFORMATION RECEIVED", "MP", "20120515", "093000")
    message = "<Message><Code>01</Code><Description>On Time</Description></Message>"
    lowercase = "<activity><Date>20120101</Date><Time>000000</Time></activity>"
    package = ("<Package><TrackingNumber>%s</TrackingNumber>" % escape(number) + delivered + transit + origin +
               message + lowercase + "</Package>")
    if number == "1ZNOPACKAGE":
        packages = []
    elif number == "1ZTWOPACKAGES":
        packages = ["<Package>" + delivered + "</Package>", "<Package>" + transit + origin + "</Package>"]
    else:
        packages = [package]
    return 200, "application/xml", ups_response(context, "1", ups_shipment(number, packages)).encode()

def translator_answer(operation, query):
    app_id = query.get("appId", [""])[0]
    if app_id == "bad-app-id":
        return 400, "text/html", ERROR_PAGE.format(op=operation).encode()
    if app_id == "server-fault":
        return 500, "application/xml", FAULT.encode()
    if app_id == "huge":
        return 200, "application/xml", b"<string>" + b"x" * (9 << 20) + b"</string>"
    if app_id == "no-element":
        return 200, "text/html", b"<html><body><h1>Service Unavailable</h1></body></html>"
    prefix = DECLARATION if app_id == "declared" else ""
    text = query.get("text", [""])[0]
    if operation == "Speak":
        with open(AUDIO, "rb") as f:
            audio = f.read()
        return 200, "audio/wav", audio, len(audio) * (2 if app_id == "truncated" else 1)
    if operation in LANGUAGES:
        codes = [] if app_id == "empty" else LANGUAGES[operation]
        inner = "".join("<string>%s</string>" % c for c in codes)
        xml = '<ArrayOfstring xmlns="%s" xmlns:i="http://www.w3.org/2001/XMLSchema-instance"%s' % (
            ARRAYS_NS, ">" + inner + "</ArrayOfstring>" if codes else "/>")
    elif operation == "Translate":
        xml = '<string xmlns="%s">%s</string>' % (STRING_NS, escape(text[::-1]))
    elif operation == "Detect":
        xml = '<string xmlns="%s">%s</string>' % (STRING_NS, detect_language(text))
    else:
        return 404, "text/plain", b"no such operation"
    return 200, "application/xml; charset=utf-8", (prefix + xml).encode("utf-8")

# ---- the current JSON APIs -------------------------------------------------------------------

LANGUAGES_V3 = {"de": "German", "en": "English", "fr": "French", "pt-pt": "Portuguese (Portugal)"}
DEEP = b"[" * 300 + b"]" * 300

def json_answer(status, value):
    return status, "application/json; charset=utf-8", json.dumps(value).encode("utf-8")

def v3_error(status, code, message):
    return json_answer(status, {"error": {"code": code, "message": message}})

def detect_language(text):
    return "de" if re.search("[äöüß]", text) else "en"

def translator_v3(handler, operation, query, body):
    if operation == "languages":
        return json_answer(200, {"translation": {c: {"name": n, "nativeName": n, "dir": "ltr"}
                                                 for c, n in LANGUAGES_V3.items()}})
    key = handler.headers.get("Ocp-Apim-Subscription-Key", "")
    if key in ("", "bad-key"):
        return v3_error(401, 401000, "The request is not authorized because credentials are missing or invalid.")
    if key == "deep":
        return 200, "application/json", DEEP
    if key == "moved":  # to another host name of this server: a key must not follow
        return 307, "application/json", b"", None, {"Location": "https://localhost:%s%s" % (PORT, handler.path)}
    text = json.loads(body.decode("utf-8"))[0]["Text"]
    if operation == "detect":
        return json_answer(200, [{"language": detect_language(text), "score": 1.0,
                                  "isTranslationSupported": True, "isTransliterationSupported": False}])
    to, source = query.get("to", [""])[0], query.get("from", [None])[0]
    result = {"translations": [{"text": text[::-1], "to": to}]}
    if source is None:
        result = {"detectedLanguage": {"language": detect_language(text), "score": 1.0}, **result}
    return json_answer(200, [result])

TOKENS = {}  # client id -> its newest token
COUNTER = itertools.count(1)

def ups_errors(status, code, message):
    return json_answer(status, {"response": {"errors": [{"code": code, "message": message}]}})

def ups_token(handler, body):
    try:
        client, secret = base64.b64decode(handler.headers.get("Authorization", "")[6:]).decode().split(":", 1)
    except ValueError:
        client, secret = "", ""
    if not handler.headers.get("Authorization", "").startswith("Basic ") or secret != "s3cret":
        return ups_errors(401, "10401", "ClientId is Invalid")
    if client == "deep":
        return 200, "application/json", DEEP
    with LOCK:
        token = "tok-%s-%d" % (client, next(COUNTER))
        if client != "refused":
            TOKENS[client] = token
    return json_answer(200, {"token_type": "Bearer", "issued_at": "1701900000000", "client_id": client,
                             "access_token": token, "scope": "", "refresh_count": "0", "status": "approved",
                             "expires_in": "30" if client == "brief" else "14399"})

def rest_address(city, state, postal, country, lines=()):
    address = {"addressLine%d" % (i + 1): l for i, l in enumerate(lines)}
    address.update({"city": city, "stateProvince": state, "postalCode": postal, "country": country,
                    "countryCode": country})
    return address

def rest_activity(city, state, status, description, code, date, time=None):
    scan = {"location": {"address": rest_address(city, state, "", "US"), "slic": "80" + status + "1"},
            "status": {"type": status, "description": description + " ", "code": code, "statusCode": "011"},
            "date": date}
    if time is not None:
        scan["time"] = time
    return scan

def ups_rest_track(handler, number):
    token = handler.headers.get("Authorization", "")[7:]
    client = token[4:].rsplit("-", 1)[0]
    if not handler.headers.get("Authorization", "").startswith("Bearer ") or TOKENS.get(client) != token:
        return ups_errors(401, "250002", "Invalid Authentication Information.")
    if number == "1ZINVALID":
        return ups_errors(400, "151018", "Invalid tracking number")
    if number == "1ZDEEP":
        return 200, "application/json", DEEP
    if number == "1ZNOTFOUND":
        return json_answer(200, {"trackResponse": {"shipment": [{"inquiryNumber": number, "warnings": [
            {"code": "TW0001", "message": "Tracking Information Not Found"}]}]}})
    delivered = rest_activity("ANYTOWN", "GA", "D", "DELIVERED", "KB", "20120517", "140309")
    transit = rest_activity("BALTIMORE", "MD", "I", "ARRIVAL SCAN", "AR", "20120516", "083000")
    origin = rest_activity("TIMONIUM", "MD", "M", "BILLING INFORMATION RECEIVED", "MP", "20120515")
    package = {"trackingNumber": number, "deliveryDate": [{"type": "DEL", "date": "20120517"}],
               "deliveryInformation": {"location": "FRONT DOOR", "receivedBy": "JONES", "signature": {"image": ""}},
               "packageAddress": [
                   {"type": "ORIGIN", "name": "SHIPPER", "address": rest_address(
                       "TIMONIUM", "MD", "21093", "US", ["12 Dock Road", "Unit 4"])},
                   {"type": "DESTINATION", "name": "RECEIVER", "address": rest_address("MONTREAL", "QC", "", "CA")}],
               "weight": {"unitOfMeasurement": "LBS", "weight": "5.50"},
               "service": {"code": "002", "levelCode": "002", "description": "UPS 2nd Day Air"},
               "activity": [delivered, transit, origin], "packageCount": 1}
    packages = [package]
    if number == "1ZTWOPACKAGES":
        packages = [dict(package, activity=[delivered]), {"trackingNumber": number + "2", "activity": [transit]}]
    return json_answer(200, {"trackResponse": {"shipment": [{"inquiryNumber": number, "package": packages,
                                                             "userRelation": [], "warnings": []}]}})

def current_api_answer(handler, body):  # None for the retired APIs
    parts = urlsplit(handler.path)
    query = parse_qs(parts.query, keep_blank_values=True)
    operation = parts.path.rsplit("/", 1)[-1]
    if "api-version" in query and operation in ("translate", "detect", "languages"):
        return translator_v3(handler, operation, query, body)
    if handler.command == "POST" and parts.path == "/security/v1/oauth/token":
        return ups_token(handler, body)
    if handler.command == "GET" and parts.path.startswith("/api/track/v1/details/"):
        return ups_rest_track(handler, unquote(parts.path[len("/api/track/v1/details/"):]))
    return None

class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *args):
        sys.stderr.write("%s\n" % (format % args))

    def answer(self, status, content_type, body, announced=None, extra=None, head=False):
        self.send_response(status)
        for name, value in (extra or {}).items():
            self.send_header(name, value)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(announced if announced is not None else len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        if not head:
            self.wfile.write(body)
        self.wfile.flush()
        self.close_connection = True

    def do_HEAD(self):
        record(self)
        answer = auth_answer(self, "HEAD") if self.path.startswith("/auth/") else (501, "text/plain", b"")
        self.answer(*answer, head=True)

    def do_GET(self):
        record(self)
        if self.path.startswith("/auth/"):
            return self.answer(*auth_answer(self, "GET"))
        current = current_api_answer(self, b"")
        if current:
            return self.answer(*current)
        parts = urlsplit(self.path)
        query = parse_qs(parts.query, keep_blank_values=True, encoding="utf-8", errors="strict")
        self.answer(*translator_answer(parts.path.rsplit("/", 1)[-1], query))

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        record(self, body)
        current = current_api_answer(self, body)
        if current:
            return self.answer(*current)
        self.answer(*(ups_answer(body) if urlsplit(self.path).path == "/ups.app/xml/Track"
                      else (404, "text/plain", b"not found")))

server = ThreadingHTTPServer(("127.0.0.1", int(PORT)), Handler)
server.daemon_threads = True
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(CERT, KEY)
server.socket = context.wrap_socket(server.socket, server_side=True)
server.serve_forever()
