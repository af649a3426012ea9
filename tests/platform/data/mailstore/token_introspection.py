# SPDX-License-Identifier: GPL-3.0-or-later
"""The identity provider's token introspection endpoint (RFC 7662), standing in
for Google's or Microsoft's, which no Debian package provides.

Listens on a free loopback port and prints "READY <port>". A POST of
token=... answers {"active": true, "username": USER} for a token the tokens
file (JSON: token -> user, read at every request so a test can expire a token)
names, else {"active": false}. Dovecot's oauth2 password database and the SMTP
sink's OAuth2 mode ask it. It counts the questions in <tokens file>.asked; it
never writes a token down.
"""
import http.server
import json
import pathlib
import sys
import urllib.parse

TOKENS = pathlib.Path(sys.argv[1])
ASKED = TOKENS.with_name(TOKENS.name + ".asked")


class Introspection(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        length = int(self.headers.get("Content-Length", 0))
        form = urllib.parse.parse_qs(self.rfile.read(length).decode())
        token = form.get("token", [""])[0]
        known = json.loads(TOKENS.read_text())
        answer = {"active": True, "username": known[token]} if token in known \
            else {"active": False}
        with ASKED.open("a") as asked:
            asked.write("active\n" if answer["active"] else "inactive\n")
        body = json.dumps(answer).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def main():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Introspection)
    sys.stdout.write("READY %d\n" % server.server_address[1])
    sys.stdout.flush()
    server.serve_forever()


if __name__ == "__main__":
    main()
