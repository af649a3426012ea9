#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Calendar servers that misbehave, for the tests: one plain HTTP port and three
HTTPS ports (a good certificate, an expired one, and one from a second authority),
all on loopback. The certificates are made with openssl in FOLDER at start:
ca-a.pem signs good and expired, ca-b.pem signs foreign.

Prints "READY plain good expired foreign" (the ports) once all listen.

Paths (any method):
  /huge          a 200 answer of 65 MiB
  /gzip-bomb     80 MiB of zeros, gzip-compressed to a few kB
  /trickle       a 200 answer that sends one byte every 0.2 s
  /truncated     Content-Length 4000, then 100 bytes and a closed connection
  /redirect/N    N redirects on the same server, then what /echo-auth gives
  /to-http       a redirect from here to the plain port's /echo-auth
  /to-file       a redirect to file:///etc/hostname
  /to-other-host a redirect to localhost (not 127.0.0.1), same port, /echo-auth
  /flaky         GET: a calendar the first time, then a cut one, then a web page
  /echo-auth     a calendar whose summary says whether a password came along
  /missing/      404
  /bad-xml/      PROPFIND: a calendar collection; REPORT: a cut multistatus
  /not-xml/      PROPFIND: a 207 whose body is not XML
  /batched/      a calendar collection of one event whose sync answer is 65 MiB
                 when the data is asked for with the listing; without the data it
                 names the event, and a multiget gives it
Usage: bad_http_server.py FOLDER
"""
import gzip
import http.server
import os
import ssl
import subprocess
import sys
import threading
import time

folder = sys.argv[1]
ports = {}
flaky_gets = [0]

CONFIG = """[ca]
default_ca = test
[test]
database = {folder}/index-{name}.txt
new_certs_dir = {folder}
serial = {folder}/serial-{name}
default_md = sha256
policy = anything
unique_subject = no
[anything]
commonName = supplied
[req]
distinguished_name = dn
prompt = no
[dn]
CN = unused
[ca_ext]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[server_ext]
basicConstraints = CA:FALSE
keyUsage = digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = IP:127.0.0.1, DNS:localhost
"""


def openssl(*args):
    subprocess.run(["openssl", *args], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def path_of(name):
    return os.path.join(folder, name)


def make_authority(name):
    config = path_of("ca-%s.cnf" % name)
    with open(config, "w") as out:
        out.write(CONFIG.format(folder=folder, name=name))
    open(path_of("index-%s.txt" % name), "w").close()
    with open(path_of("serial-%s" % name), "w") as out:
        out.write("1000\n")
    openssl("req", "-x509", "-config", config, "-extensions", "ca_ext", "-newkey", "ec",
            "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
            path_of("ca-%s.key" % name), "-out", path_of("ca-%s.pem" % name), "-days", "3",
            "-subj", "/CN=Ringpost test authority %s" % name)
    return config


def make_server_certificate(name, authority, config, dates):
    openssl("req", "-new", "-config", config, "-newkey", "ec", "-pkeyopt",
            "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", path_of(name + ".key"),
            "-out", path_of(name + ".csr"), "-subj", "/CN=127.0.0.1")
    openssl("ca", "-batch", "-config", config, "-cert", path_of("ca-%s.pem" % authority),
            "-keyfile", path_of("ca-%s.key" % authority), "-in", path_of(name + ".csr"),
            "-out", path_of(name + ".pem"), "-extensions", "server_ext", "-notext", *dates)


def make_certificates():
    a = make_authority("a")
    b = make_authority("b")
    make_server_certificate("good", "a", a, ["-days", "2"])
    # Valid for one day in 2020: long expired, made without faking the clock.
    make_server_certificate("expired", "a", a,
                            ["-startdate", "20200101000000Z", "-enddate", "20200102000000Z"])
    make_server_certificate("foreign", "b", b, ["-days", "2"])


CALENDAR = ("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//bad//EN\r\nBEGIN:VEVENT\r\n"
            "UID:echo\r\nDTSTAMP:20240101T000000Z\r\nDTSTART:20300320T090000Z\r\n"
            "SUMMARY:{summary}\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n")

COLLECTION = """<?xml version="1.0" encoding="utf-8"?>
<d:multistatus xmlns:d="DAV:" xmlns:c="urn:ietf:params:xml:ns:caldav">
 <d:response><d:href>{path}</d:href><d:propstat><d:prop>
  <d:resourcetype><d:collection/><c:calendar/></d:resourcetype>
 </d:prop><d:status>HTTP/1.1 200 OK</d:status></d:propstat></d:response>
</d:multistatus>"""

LISTING = """<?xml version="1.0" encoding="utf-8"?>
<d:multistatus xmlns:d="DAV:">
 <d:response><d:href>{path}one.ics</d:href><d:propstat><d:prop>
  <d:getetag>"1"</d:getetag></d:prop><d:status>HTTP/1.1 200 OK</d:status></d:propstat>
 </d:response><d:sync-token>http://127.0.0.1/sync/1</d:sync-token>
</d:multistatus>"""

MULTIGET = """<?xml version="1.0" encoding="utf-8"?>
<d:multistatus xmlns:d="DAV:" xmlns:c="urn:ietf:params:xml:ns:caldav">
 <d:response><d:href>{path}one.ics</d:href><d:propstat><d:prop>
  <d:getetag>"1"</d:getetag><c:calendar-data>{data}</c:calendar-data>
 </d:prop><d:status>HTTP/1.1 200 OK</d:status></d:propstat></d:response>
</d:multistatus>"""

BOMB = gzip.compress(bytes(80 * 1024 * 1024), 9)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def answer(self, status, body=b"", kind="text/plain", extra=()):
        self.send_response(status)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def redirect(self, location):
        self.answer(302, extra=[("Location", location)])

    def own_scheme(self):
        return "https" if isinstance(self.connection, ssl.SSLSocket) else "http"

    def handle_any(self):
        length = int(self.headers.get("Content-Length") or 0)
        self.body = self.rfile.read(length) if length else b""
        path = self.path
        try:
            self.route(path)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
            pass

    def route(self, path):
        if path == "/huge":
            self.send_response(200)
            self.send_header("Content-Type", "text/calendar")
            self.send_header("Content-Length", str(65 * 1024 * 1024))
            self.end_headers()
            chunk = b"X" * (1024 * 1024)
            for _ in range(65):
                self.wfile.write(chunk)
        elif path == "/gzip-bomb":
            self.answer(200, BOMB, "text/calendar", [("Content-Encoding", "gzip")])
        elif path == "/trickle":
            self.send_response(200)
            self.send_header("Content-Type", "text/calendar")
            self.send_header("Content-Length", "1000000")
            self.end_headers()
            for _ in range(1000000):
                self.wfile.write(b"B")
                self.wfile.flush()
                time.sleep(0.2)
        elif path == "/truncated":
            self.send_response(200)
            self.send_header("Content-Type", "text/calendar")
            self.send_header("Content-Length", "4000")
            self.end_headers()
            self.wfile.write(CALENDAR.format(summary="cut").encode()[:100])
            self.wfile.flush()
            self.close_connection = True
        elif path.startswith("/redirect/") and int(path.split("/")[2]) > 0:
            self.redirect("/redirect/%d" % (int(path.split("/")[2]) - 1))
        elif path == "/to-http":
            self.redirect("http://127.0.0.1:%d/echo-auth" % ports["plain"])
        elif path == "/to-file":
            self.redirect("file:///etc/hostname")
        elif path == "/to-other-host":
            self.redirect("%s://localhost:%d/echo-auth"
                          % (self.own_scheme(), self.server.server_address[1]))
        elif path == "/flaky" and self.command == "GET":
            flaky_gets[0] += 1
            whole = CALENDAR.format(summary="flaky").encode()
            if flaky_gets[0] == 1:
                self.answer(200, whole, "text/calendar")
            elif flaky_gets[0] == 2:
                self.send_response(200)
                self.send_header("Content-Length", str(len(whole)))
                self.end_headers()
                self.wfile.write(whole[:len(whole) // 2])
                self.wfile.flush()
                self.close_connection = True
            else:
                self.answer(200, b"<html>Please log in</html>", "text/html")
        elif path == "/flaky":
            self.answer(405)
        elif path == "/echo-auth" or path == "/redirect/0":
            said = "password sent" if self.headers.get("Authorization") else "no password"
            self.answer(200, CALENDAR.format(summary=said).encode(), "text/calendar")
        elif path.startswith("/bad-xml/") and self.command == "PROPFIND":
            self.answer(207, COLLECTION.format(path=path).encode(), "application/xml")
        elif path.startswith("/bad-xml/"):
            cut = COLLECTION.format(path=path).encode()[:120]
            self.answer(207, cut, "application/xml")
        elif path.startswith("/batched/"):
            self.batched(path)
        elif path.startswith("/not-xml/"):
            self.answer(207, b"{\"this\": is not xml <<<", "application/xml")
        else:
            self.answer(404, b"nothing here")

    def batched(self, path):
        if self.command == "PROPFIND":
            self.answer(207, COLLECTION.format(path=path).encode(), "application/xml")
        elif b"sync-collection" in self.body and b"calendar-data" in self.body:
            self.route("/huge")
        elif b"sync-collection" in self.body:
            self.answer(207, LISTING.format(path=path).encode(), "application/xml")
        else:
            data = CALENDAR.format(summary="fetched in a batch")
            self.answer(207, MULTIGET.format(path=path, data=data).encode(), "application/xml")

    do_GET = do_PROPFIND = do_REPORT = do_PUT = handle_any

    def log_message(self, *args):
        pass


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True


def serve(name, certificate=None):
    server = Server(("127.0.0.1", 0), Handler)
    if certificate:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(path_of(certificate + ".pem"), path_of(certificate + ".key"))
        server.socket = context.wrap_socket(server.socket, server_side=True)
    ports[name] = server.server_address[1]
    threading.Thread(target=server.serve_forever, daemon=True).start()


make_certificates()
serve("plain")
serve("good", "good")
serve("expired", "expired")
serve("foreign", "foreign")
print("READY %d %d %d %d" % (ports["plain"], ports["good"], ports["expired"], ports["foreign"]),
      flush=True)
threading.Event().wait()
