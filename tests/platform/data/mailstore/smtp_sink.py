# SPDX-License-Identifier: GPL-3.0-or-later
"""A small SMTP server for the mail store tests, built on aiosmtpd.

Listens on a free loopback port, prints "READY <port>" and stores every
message it accepts as <n>.eml (with the recipients in <n>.rcpt) in the
output folder. Modes: accept, reject-recipient, stall (never greets),
tls-auth (STARTTLS required, then AUTH PLAIN/LOGIN as user/secret).
"""
import argparse
import asyncio
import pathlib
import ssl
import sys

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
        (stem.with_suffix(".rcpt")).write_text("\n".join(envelope.rcpt_tos))
        (stem.with_suffix(".eml")).write_bytes(envelope.original_content)
        return "250 2.0.0 Ok: queued as RP%d" % self.count


def check_login(server, session, envelope, mechanism, auth_data):
    ok = isinstance(auth_data, LoginPassword) and \
        auth_data.login == b"user" and auth_data.password == b"secret"
    return AuthResult(success=ok, handled=False)


def tls_context(cert, key):
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert, key)
    return context


def factory(args):
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
