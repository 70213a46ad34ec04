"""Loopback HTTPS stand-in for the translator and the UPS tracking services.

Answers in the shapes those services used, picks error answers by the appId (translator) or
the tracking number (UPS), and records every request before answering it: one line per
request with the method, then the hex of the request target, of the body and of the
Content-Type, separated by blanks.

usage: service_fixture.py PORT CERT KEY LOG AUDIO
"""
import html
import re
import ssl
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit
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


def record(method, target, body, content_type):
    line = " ".join([method, target.encode("latin-1").hex() or "-", body.hex() or "-",
                     content_type.encode("latin-1").hex() or "-"])
    with LOCK, open(LOG, "a") as log:
        log.write(line + "\n")


def reverse(text):
    return "".join(reversed(text))


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
    number = re.search(r"<TrackingNumber>#?(.*?)</TrackingNumber>", text, re.S)
    context = re.search(r"<CustomerContext>(.*?)</CustomerContext>", text, re.S)
    number = html.unescape(number.group(1)) if number else ""
    context = html.unescape(context.group(1)) if context else ""
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
        if app_id == "truncated":
            return 200, "audio/wav", audio, len(audio) * 2
        return 200, "audio/wav", audio
    if operation in LANGUAGES:
        codes = [] if app_id == "empty" else LANGUAGES[operation]
        inner = "".join("<string>%s</string>" % c for c in codes)
        xml = '<ArrayOfstring xmlns="%s" xmlns:i="http://www.w3.org/2001/XMLSchema-instance"%s' % (
            ARRAYS_NS, ">" + inner + "</ArrayOfstring>" if codes else "/>")
    elif operation == "Translate":
        xml = '<string xmlns="%s">%s</string>' % (STRING_NS, escape(reverse(text)))
    elif operation == "Detect":
        xml = '<string xmlns="%s">%s</string>' % (STRING_NS, "de" if re.search("[äöüß]", text) else "en")
    else:
        return 404, "text/plain", b"no such operation"
    return 200, "application/xml; charset=utf-8", (prefix + xml).encode("utf-8")


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *args):
        sys.stderr.write("%s\n" % (format % args))

    def answer(self, status, content_type, body, announced=None):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(announced if announced is not None else len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)
        self.wfile.flush()
        self.close_connection = True

    def do_GET(self):
        record("GET", self.path, b"", self.headers.get("Content-Type", ""))
        parts = urlsplit(self.path)
        operation = parts.path.rsplit("/", 1)[-1]
        query = parse_qs(parts.query, keep_blank_values=True, encoding="utf-8", errors="strict")
        self.answer(*translator_answer(operation, query))

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        record("POST", self.path, body, self.headers.get("Content-Type", ""))
        if urlsplit(self.path).path != "/ups.app/xml/Track":
            self.answer(404, "text/plain", b"not found")
        else:
            self.answer(*ups_answer(body))


server = ThreadingHTTPServer(("127.0.0.1", int(PORT)), Handler)
server.daemon_threads = True
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(CERT, KEY)
server.socket = context.wrap_socket(server.socket, server_side=True)
server.serve_forever()
