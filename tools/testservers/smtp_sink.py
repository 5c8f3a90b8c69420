#!/usr/bin/env python3
"""SMTP sink for the tests: accepts every message and stores it in the folder given as the first
argument, as mail-N.eml (the data as received, dots unstuffed) and mail-N.env (FROM and TO lines
of the envelope). With --reject-rcpt every recipient is refused (550); with --stall the greeting comes only after
120 seconds (longer than any watch of the tests, so a client that waits for it is seen)."""
import os
import socketserver
import sys
import threading
import time

from common import announce_and_serve

OUT_DIR = sys.argv[1]
REJECT_RCPT = "--reject-rcpt" in sys.argv[2:]
STALL = "--stall" in sys.argv[2:]
counter = 0
counter_lock = threading.Lock()


class Handler(socketserver.StreamRequestHandler):
    def send(self, line):
        self.wfile.write(line.encode("ascii") + b"\r\n")
        self.wfile.flush()

    def handle(self):
        global counter
        sender, recipients = None, []
        if STALL:
            time.sleep(120)
        self.send("220 sink.test ESMTP ready")
        while True:
            line = self.rfile.readline(4096)
            if not line:
                return
            cmd = line.decode("latin-1").rstrip("\r\n")
            verb = cmd[:4].upper()
            if verb == "EHLO":
                self.send("250-sink.test")
                self.send("250 8BITMIME")
            elif verb == "HELO":
                self.send("250 sink.test")
            elif verb == "MAIL":
                sender, recipients = cmd[10:].strip(), []
                self.send("250 OK")
            elif verb == "RCPT":
                if REJECT_RCPT:
                    self.send("550 no such user")
                else:
                    recipients.append(cmd[8:].strip())
                    self.send("250 OK")
            elif verb == "DATA":
                if sender is None or not recipients:
                    self.send("503 bad sequence")
                    continue
                self.send("354 end with <CRLF>.<CRLF>")
                data = bytearray()
                while True:
                    part = self.rfile.readline(1 << 20)
                    if not part or part == b".\r\n":
                        break
                    data += part[1:] if part.startswith(b".") else part
                with counter_lock:
                    counter += 1
                    n = counter
                base = os.path.join(OUT_DIR, f"mail-{n}")
                with open(base + ".env.tmp", "w") as f:
                    f.write(f"FROM {sender}\n" + "".join(f"TO {r}\n" for r in recipients))
                with open(base + ".eml", "wb") as f:
                    f.write(data)
                os.rename(base + ".env.tmp", base + ".env")
                self.send("250 queued")
                sender, recipients = None, []
            elif verb == "RSET":
                sender, recipients = None, []
                self.send("250 OK")
            elif verb == "NOOP":
                self.send("250 OK")
            elif verb == "QUIT":
                self.send("221 bye")
                return
            else:
                self.send("500 unknown command")


class Server(socketserver.ThreadingMixIn, socketserver.TCPServer):
    daemon_threads = True
    allow_reuse_address = True


if __name__ == "__main__":
    announce_and_serve(Server(("127.0.0.1", 0), Handler))
