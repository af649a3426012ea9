# SPDX-License-Identifier: GPL-3.0-or-later
"""A small SMTP server for the mail store tests, built on aiosmtpd.

Listens on a free loopback port, prints "READY <port>" and stores every
message it accepts as <n>.eml (with the recipients in <n>.rcpt) in the
output folder. Modes: accept, reject-recipient, stall (never greets),
tls-auth (STARTTLS required, then AUTH PLAIN/LOGIN as user/secret),
oauth2 (STARTTLS required, then AUTH XOAUTH2 only, as Microsoft's servers
offer it, each token checked at the --introspect endpoint; the signed-in user
is stored beside each message as <n>.user).
"""
import argparse
import asyncio
import base64
import json
import pathlib
import ssl
import sys
import urllib.parse
import urllib.request

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class Store:
    def __init__(self, folder, reject):
        self.folder = pathlib.Path(folder)
        self.reject = reject
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.reject:
            return "550 5.1.1 <%s>: Recipient address rejected: User unknown" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        stem = self.folder / str(self.count)
        if isinstance(session.auth_data, str):
            (stem.with_suffix(".user")).write_text(str(session.auth_data))
        (stem.with_suffix(".rcpt")).write_text("\n".join(envelope.rcpt_tos))
        (stem.with_suffix(".eml")).write_bytes(envelope.original_content)
        return "250 2.0.0 Ok: queued as RP%d" % self.count


class OAuth2Store(Store):
    """XOAUTH2 as Microsoft's servers answer it: a refused token gets 535."""

    def __init__(self, folder, introspect):
        super().__init__(folder, False)
        self.introspect = introspect

    def user_of(self, token):
        form = urllib.parse.urlencode({"token": token}).encode()
        with urllib.request.urlopen(self.introspect, form, timeout=5) as answer:
            said = json.load(answer)
        return said.get("username") if said.get("active") else None

    async def auth_XOAUTH2(self, server, args):
        blob = base64.b64decode(args[1]) if len(args) > 1 \
            else await server.challenge_auth("")
        if not isinstance(blob, bytes):
            return AuthResult(success=False, handled=True)
        fields = dict(part.partition("=")[::2] for part in blob.decode().split("\x01") if part)
        user = fields.get("user")
        token = fields.get("auth", "").removeprefix("Bearer ")
        if user and self.user_of(token) == user:
            return AuthResult(success=True, auth_data=user)
        return AuthResult(success=False, handled=False,
                          message="535 5.7.3 Authentication unsuccessful")


def check_login(server, session, envelope, mechanism, auth_data):
    ok = isinstance(auth_data, LoginPassword) and \
        auth_data.login == b"user" and auth_data.password == b"secret"
    return AuthResult(success=ok, handled=False)


def tls_context(cert, key):
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert, key)
    return context


def factory(args):
    if args.mode == "oauth2":
        handler = OAuth2Store(args.out, args.introspect)
        context = tls_context(args.cert, args.key)
        return lambda: SMTP(handler, hostname="sink.test", tls_context=context,
                            require_starttls=True, auth_required=True,
                            auth_exclude_mechanism=["LOGIN", "PLAIN"])
    handler = Store(args.out, args.mode == "reject-recipient")
    if args.mode != "tls-auth":
        return lambda: SMTP(handler, hostname="sink.test")
    context = tls_context(args.cert, args.key)
    return lambda: SMTP(handler, hostname="sink.test", tls_context=context,
                        require_starttls=True, authenticator=check_login,
                        auth_required=True)


async def stall(reader, writer):
    await asyncio.sleep(3600)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True)
    parser.add_argument("--mode", default="accept")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--introspect")
    args = parser.parse_args()
    loop = asyncio.new_event_loop()
    if args.mode == "stall":
        server = loop.run_until_complete(asyncio.start_server(stall, "127.0.0.1", 0))
    else:
        server = loop.run_until_complete(loop.create_server(factory(args), "127.0.0.1", 0))
    sys.stdout.write("READY %d\n" % server.sockets[0].getsockname()[1])
    sys.stdout.flush()
    # The test closes our stdin when it is done with us.
    loop.add_reader(sys.stdin.fileno(), loop.stop)
    loop.run_forever()


if __name__ == "__main__":
    main()
