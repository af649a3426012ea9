# SPDX-License-Identifier: GPL-3.0-or-later
"""A stand-in for an ntfy server's publish endpoint, for the tests.

Debian packages no ntfy server, so this answers a publish (POST or PUT to
/TOPIC) the way ntfy does: 200 and the message as JSON, or ntfy's JSON error.
It also stands for the services the real apprise posts to in the tests (json://,
ntfy://, gotify://, whose requests it keeps alike). How it answers depends on the
path, so one server covers every case:

  protected  needs "Authorization: Bearer tk_right": 403 without, 401 wrong
  limited    429, ntfy's rate limit
  broken     500
  stall      takes the request and never answers
  redirect   301 to http://127.0.0.1:PORT/elsewhere (plain http)
  moved      307 to https://127.0.0.1:PORT/elsewhere
  anything else: 200

Every request is kept in the output folder as NNNN.json (method, path, the
headers, the body as text), written under a temporary name and renamed, so a
reader never sees half of one.

Usage: python3 ntfy_server.py --out FOLDER [--port-file FILE] [--cert PEM --key PEM]
(with --cert and --key it speaks HTTPS only)
Prints "READY <port>" once it listens on a free loopback port.
"""

import argparse
import itertools
import json
import os
import signal
import ssl
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

NUMBERS = itertools.count(1)
NUMBER_LOCK = threading.Lock()


def keep(folder, record):
    with NUMBER_LOCK:
        number = next(NUMBERS)
    name = "%04d.json" % number
    temporary = os.path.join(folder, "." + name + ".part")
    with open(temporary, "w", encoding="utf-8") as out:
        json.dump(record, out, ensure_ascii=False, indent=1)
    os.rename(temporary, os.path.join(folder, name))


class Publish(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, status, payload, extra=()):
        data = json.dumps(payload).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(data)

    def error(self, status, code, text):
        self.answer(status, {"code": code, "http": status, "error": text})

    def publish(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length).decode("utf-8", "replace")
        topic = self.path.lstrip("/")
        keep(self.server.out, {
            "method": self.command,
            "path": self.path,
            "headers": {name: value for name, value in self.headers.items()},
            "body": body,
        })
        port = self.server.server_address[1]
        if topic == "stall":
            time.sleep(120)
            return
        if topic == "redirect":
            self.answer(301, {}, [("Location", "http://127.0.0.1:%d/elsewhere" % port)])
        elif topic == "moved":
            self.answer(307, {}, [("Location", "https://127.0.0.1:%d/elsewhere" % port)])
        elif topic == "limited":
            self.error(429, 42901, "limit reached: too many requests")
        elif topic == "broken":
            self.error(500, 50001, "internal server error")
        elif topic == "protected":
            token = self.headers.get("Authorization")
            if token is None:
                self.error(403, 40301, "forbidden")
            elif token != "Bearer tk_right":
                self.error(401, 40101, "unauthorized")
            else:
                self.answer(200, {"id": "ok", "event": "message", "topic": topic, "message": body})
        else:
            self.answer(200, {"id": "ok", "event": "message", "topic": topic, "message": body})

    do_POST = publish
    do_PUT = publish


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True)
    parser.add_argument("--port-file")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    options = parser.parse_args()
    server = ThreadingHTTPServer(("127.0.0.1", 0), Publish)
    if options.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(options.cert, options.key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    server.daemon_threads = True
    server.out = options.out
    os.makedirs(options.out, exist_ok=True)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    port = server.server_address[1]
    if options.port_file:
        with open(options.port_file + ".part", "w") as out:
            out.write("%d\n" % port)
        os.rename(options.port_file + ".part", options.port_file)
    print("READY %d" % port, flush=True)
    # Ends when the test closes our standard input, or on SIGTERM.
    threading.Thread(target=server.serve_forever, daemon=True).start()
    if options.port_file:
        signal.pause()
    else:
        sys.stdin.read()


if __name__ == "__main__":
    main()
