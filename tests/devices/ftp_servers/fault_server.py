#!/usr/bin/python3
"""An FTP server for the client's tests: pyftpdlib's own server, with faults
that a client must survive switched on from the command line.

It listens on 127.0.0.1 only, on a port the system picks (or --port), and
prints "PORT <n>" on its first output line once it accepts connections.
"""
import argparse
import logging
import socket
import struct
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer


def parse_args():
    p = argparse.ArgumentParser()
    p.add_argument("--root", required=True)
    p.add_argument("--user", default="vx")
    p.add_argument("--password", default="secret")
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--pasv-ports", default="", help="first-last")
    p.add_argument("--greeting", action="append", default=[],
                   help="a raw greeting line (repeat for several)")
    p.add_argument("--close-after-greeting", action="store_true",
                   help="end the control connection right after the greeting")
    p.add_argument("--drip-greeting", action="store_true",
                   help="a greeting that never ends: a continuation line every 50 ms")
    p.add_argument("--flood-greeting", action="store_true",
                   help="a greeting that never ends, sent as fast as the client reads")
    p.add_argument("--masquerade", default="",
                   help="the address that PASV replies name (the data port stays local)")
    p.add_argument("--reply", action="append", default=[],
                   help="CMD=TEXT: answer CMD with TEXT ('|' separates lines)")
    p.add_argument("--close-after-reply", action="store_true",
                   help="end the control connection after a --reply answer")
    p.add_argument("--multiline", action="append", default=[],
                   help="CMD: its real reply comes as a reply of several lines")
    p.add_argument("--silent", action="append", default=[],
                   help="CMD: never answer CMD")
    p.add_argument("--silent-close", action="store_true",
                   help="never send the closing reply of a transfer")
    p.add_argument("--retr-limit", type=int, default=-1,
                   help="send only this many bytes of a downloaded file")
    p.add_argument("--retr-mode", choices=["drop", "stall"], default="drop")
    p.add_argument("--stor-limit", type=int, default=-1,
                   help="take only this many bytes of an uploaded file")
    p.add_argument("--stor-mode", choices=["drop", "stall"], default="drop")
    p.add_argument("--log", default="", help="file that receives every command line")
    return p.parse_args()


OPTS = parse_args()
REPLIES = {}
for item in OPTS.reply:
    cmd, _, text = item.partition("=")
    REPLIES[cmd.upper()] = text.split("|")


def log_command(line):
    if OPTS.log:
        with open(OPTS.log, "a", encoding="utf-8") as f:
            f.write(line + "\n")


class LimitedProducer:
    """Hands out the bytes of another producer up to a limit."""

    def __init__(self, inner, limit):
        self.inner = inner
        self.left = limit

    def more(self):
        if self.left <= 0:
            return b""
        chunk = self.inner.more()
        chunk = chunk[: self.left]
        self.left -= len(chunk)
        return chunk


class FaultyDTP(DTPHandler):
    def close_when_done(self):
        if getattr(self.cmd_channel, "vx_stall", False):
            return  # keep the data connection open and quiet
        DTPHandler.close_when_done(self)

    def handle_read(self):
        limit = OPTS.stor_limit
        if limit >= 0 and self.tot_bytes_received >= limit:
            if OPTS.stor_mode == "stall":
                self.del_channel()  # stop reading; the socket stays open
            else:
                self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                       struct.pack("ii", 1, 0))
                self.close()
            return
        DTPHandler.handle_read(self)

    handle_read_event = handle_read


class FaultyHandler(FTPHandler):
    auth_failed_timeout = 0
    use_sendfile = False
    dtp_handler = FaultyDTP
    vx_cmd = None
    vx_wrapped = False
    vx_stall = False

    def drip(self):
        if self._closed or self._closing:
            return
        self.push("220-still greeting you\r\n")
        self.ioloop.call_later(0.05, self.drip, _errback=lambda: None)

    def flood(self):
        if self._closed or self._closing:
            return
        # Refill only while the client keeps taking what was sent.
        if len(self.producer_fifo) < 4:
            self.push("220-flooding you\r\n" * 2048)
        self.ioloop.call_later(0.001, self.flood, _errback=lambda: None)

    def handle(self):
        if OPTS.flood_greeting:
            self.on_connect()
            self.flood()
            return
        if OPTS.drip_greeting:
            self.on_connect()
            self.drip()
            return
        if not OPTS.greeting:
            FTPHandler.handle(self)
            return
        self.on_connect()
        self.push("".join(line + "\r\n" for line in OPTS.greeting))
        if OPTS.close_after_greeting:
            self.close_when_done()

    def pre_process_command(self, line, cmd, arg):
        log_command(line)
        self.vx_cmd = cmd
        self.vx_wrapped = False
        if cmd in OPTS.silent:
            return
        if cmd in REPLIES:
            self.push("".join(text + "\r\n" for text in REPLIES[cmd]))
            if OPTS.close_after_reply:
                self.close_when_done()
            return
        FTPHandler.pre_process_command(self, line, cmd, arg)

    def respond(self, resp, *args, **kwargs):
        if OPTS.silent_close and resp[:3] in ("226", "426", "451"):
            return
        if self.vx_cmd in OPTS.multiline and not self.vx_wrapped:
            self.vx_wrapped = True
            code = resp[:3]
            self.push("%s-First of several lines\r\n"
                      " a line that begins with a space\r\n"
                      "a line of plain text\r\n"
                      "%s-Last but one\r\n" % (code, code))
        FTPHandler.respond(self, resp, *args, **kwargs)

    def push_dtp_data(self, data, isproducer=False, file=None, cmd=None):
        if cmd == "RETR" and OPTS.retr_limit >= 0:
            data = LimitedProducer(data, OPTS.retr_limit)
            self.vx_stall = OPTS.retr_mode == "stall"
        FTPHandler.push_dtp_data(self, data, isproducer, file, cmd)


def main():
    logging.basicConfig(level=logging.ERROR)
    authorizer = DummyAuthorizer()
    authorizer.add_user(OPTS.user, OPTS.password, OPTS.root, perm="elradfmwMT")
    FaultyHandler.authorizer = authorizer
    if OPTS.masquerade:
        FaultyHandler.masquerade_address = OPTS.masquerade
    if OPTS.pasv_ports:
        first, last = (int(x) for x in OPTS.pasv_ports.split("-"))
        FaultyHandler.passive_ports = range(first, last + 1)
    server = FTPServer(("127.0.0.1", OPTS.port), FaultyHandler)
    print("PORT %d" % server.address[1], flush=True)
    try:
        server.serve_forever()
    finally:
        server.close_all()


if __name__ == "__main__":
    sys.exit(main())
