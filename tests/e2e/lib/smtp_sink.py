# SPDX-License-Identifier: GPL-3.0-or-later
"""A local SMTP server for the end-to-end tests.

Listens on a free loopback port, writes that port to a file once it accepts
connections, and keeps every message it is given as two files in a folder:
NNNN.eml (the message as received) and NNNN.txt (what the tests check: the
envelope, the decoded To and Subject headers and the plain-text body).
Each file is written under a temporary name and renamed, so a reader never sees
half a message.

Usage: python3 smtp_sink.py <folder> <port-file>
"""

import asyncio
import email
import email.policy
import itertools
import os
import signal
import sys

from aiosmtpd.smtp import SMTP


class KeepMessages:
    def __init__(self, folder):
        self.folder = folder
        self.numbers = itertools.count(1)

    def _write(self, name, data):
        temporary = os.path.join(self.folder, "." + name + ".part")
        with open(temporary, "wb") as out:
            out.write(data)
        os.rename(temporary, os.path.join(self.folder, name))

    async def handle_DATA(self, server, session, envelope):
        number = next(self.numbers)
        raw = envelope.original_content or envelope.content
        if isinstance(raw, str):
            raw = raw.encode("utf-8", "surrogateescape")
        message = email.message_from_bytes(raw, policy=email.policy.default)
        body = message.get_body(preferencelist=("plain",))
        text = body.get_content() if body is not None else ""
        # SMTP ends every line, the last one too, with CR LF: a body sent as one
        # line without an end comes back as that line and one line end.
        text = text.replace("\r\n", "\n")
        if text.endswith("\n"):
            text = text[:-1]
        summary = "".join([
            "Mail-From: %s\n" % envelope.mail_from,
            "Rcpt-To: %s\n" % " ".join(envelope.rcpt_tos),
            "To: %s\n" % (message.get("To") or ""),
            "Subject: %s\n" % (message.get("Subject") or ""),
            "\n",
            text,
        ])
        self._write("%04d.eml" % number, raw)
        self._write("%04d.txt" % number, summary.encode("utf-8"))
        return "250 Message accepted for delivery"


async def main(folder, port_file):
    loop = asyncio.get_running_loop()
    handler = KeepMessages(folder)
    server = await loop.create_server(
        lambda: SMTP(handler, hostname="sink.localhost"), host="127.0.0.1", port=0)
    port = server.sockets[0].getsockname()[1]
    with open(port_file + ".part", "w") as out:
        out.write("%d\n" % port)
    os.rename(port_file + ".part", port_file)
    stop = asyncio.Event()
    for number in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(number, stop.set)
    await stop.wait()
    server.close()
    await server.wait_closed()


if __name__ == "__main__":
    asyncio.run(main(sys.argv[1], sys.argv[2]))
