#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A calendar subscription for the tests: serves one .ics file over HTTP on a free
loopback port with an ETag and Last-Modified, answers 304 when they still match,
and appends one line per request (method, status, bytes) to a log file."""
import hashlib
import http.server
import os
import sys
from email.utils import formatdate

path, log = sys.argv[1], sys.argv[2]


class Handler(http.server.BaseHTTPRequestHandler):
    def note(self, status, size):
        with open(log, "a") as out:
            out.write(f"{self.command} {status} {size}\n")

    # Each request is noted before its answer goes out, so a test that reads the
    # log once its request has returned always finds the line.
    def do_PROPFIND(self):
        self.note(405, 0)
        self.send_response(405)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def do_GET(self):
        with open(path, "rb") as source:
            body = source.read()
        etag = '"' + hashlib.sha1(body).hexdigest() + '"'
        modified = formatdate(os.stat(path).st_mtime, usegmt=True)
        if self.headers.get("If-None-Match") == etag:
            self.note(304, 0)
            self.send_response(304)
            self.send_header("ETag", etag)
            self.end_headers()
            return
        self.note(200, len(body))
        self.send_response(200)
        self.send_header("Content-Type", "text/calendar")
        self.send_header("ETag", etag)
        self.send_header("Last-Modified", modified)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
print("READY", server.server_address[1], flush=True)
server.serve_forever()
