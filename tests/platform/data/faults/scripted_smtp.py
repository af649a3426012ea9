# SPDX-License-Identifier: GPL-3.0-or-later
"""An SMTP server that misbehaves on purpose, for the mail-server fault tests.

Listens on a free loopback port, prints "READY <port>", and answers every
connection as its mode says:
  greet421   refuses at the greeting with 421 and closes
  data451    accepts the envelope, then answers the message with 451
  auth535    offers AUTH and rejects every login with 535
  slow       a correct server whose every reply comes after --delay seconds
  trickle    a greeting that never ends: one continuation line now and then
  badtls     offers STARTTLS, agrees to it, then speaks plain text
  drop       closes the connection after MAIL FROM
Ends when its standard input closes. Uses nothing beyond the standard library.
"""
import argparse
import asyncio
import os
import sys

OK_DATA = b"250 2.0.0 Ok: queued as SCRIPTED\r\n"


class Dialogue:
    def __init__(self, mode, delay, reader, writer):
        self.mode = mode
        self.delay = delay
        self.reader = reader
        self.writer = writer

    async def say(self, line):
        if self.mode == "slow":
            await asyncio.sleep(self.delay)
        self.writer.write(line)
        await self.writer.drain()

    async def greet(self):
        if self.mode == "greet421":
            await self.say(b"421 4.3.2 Service not available, closing transmission channel\r\n")
            return False
        if self.mode == "trickle":
            while True:
                await self.say(b"220-still starting up\r\n")
                await asyncio.sleep(0.2)
        await self.say(b"220 scripted.test ESMTP\r\n")
        return True

    async def ehlo(self):
        extensions = [b"250-scripted.test"]
        if self.mode == "auth535":
            extensions.append(b"250-AUTH PLAIN LOGIN")
        if self.mode == "badtls":
            extensions.append(b"250-STARTTLS")
        extensions.append(b"250 8BITMIME")
        await self.say(b"\r\n".join(extensions) + b"\r\n")

    async def data(self):
        await self.say(b"354 End data with <CR><LF>.<CR><LF>\r\n")
        while True:
            line = await self.reader.readline()
            if not line or line == b".\r\n":
                break
        if self.mode == "data451":
            await self.say(b"451 4.3.0 Temporary local problem, try again later\r\n")
        else:
            await self.say(OK_DATA)

    async def command(self, verb):
        if verb in (b"EHLO", b"HELO"):
            await self.ehlo()
        elif verb == b"AUTH":
            await self.say(b"535 5.7.8 Authentication credentials invalid\r\n")
        elif verb == b"STARTTLS":
            await self.say(b"220 2.0.0 Ready to start TLS\r\n")
            await self.reader.read(4096)  # the client's hello
            await self.say(b"this is not a TLS handshake\r\n")
            return False
        elif verb == b"MAIL" and self.mode == "drop":
            return False
        elif verb == b"DATA":
            await self.data()
        elif verb == b"QUIT":
            await self.say(b"221 2.0.0 Bye\r\n")
            return False
        else:
            await self.say(b"250 2.1.0 Ok\r\n")
        return True

    async def run(self):
        if not await self.greet():
            return
        while True:
            line = await self.reader.readline()
            if not line:
                return
            verb = line.split(b" ", 1)[0].split(b":", 1)[0].strip().upper()
            if not await self.command(verb):
                return


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mode", required=True)
    parser.add_argument("--delay", type=float, default=0.3)
    args = parser.parse_args()

    async def serve(reader, writer):
        try:
            await Dialogue(args.mode, args.delay, reader, writer).run()
        except (ConnectionError, asyncio.IncompleteReadError):
            pass
        finally:
            writer.close()

    loop = asyncio.new_event_loop()
    server = loop.run_until_complete(asyncio.start_server(serve, "127.0.0.1", 0))
    sys.stdout.write("READY %d\n" % server.sockets[0].getsockname()[1])
    sys.stdout.flush()
    # Connections may still be open; end at once and quietly.
    loop.add_reader(sys.stdin.fileno(), lambda: os._exit(0))
    loop.run_forever()


if __name__ == "__main__":
    main()
