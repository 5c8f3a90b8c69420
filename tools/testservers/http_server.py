#!/usr/bin/env python3
"""Stand-in HTTP server for the tests of the internet helpers.

GET /lines          a text body with LF, CR LF and lone CR line ends
GET /bytes          256 * 64 bytes of every value, in order
GET /status/NNN     answers with status NNN and a short error page
GET /echo/TEXT/NAME  answers with TEXT, percent-decoded (a settable reply for any file name)
GET /stall          answers like /lines, but only after 10 seconds
POST (any path)     200; the body echoes the request: request line, header lines, blank line, body

With --root DIR the server plays the game server from a folder instead (the routes above are off):
GET /a/b?query      the file DIR/a/b (the query ignored; .html, .htm and .asp files as text/html),
                    404 when missing; a file DIR/a/b.status
                    holding a number answers with that status and a short error page
POST /a/b           the file DIR/a/b as the answer when it exists, else "OK"
                    a file DIR/a/b.behave holding one word answers like a hostile server:
                      stall     accepts and never answers (for 120 s at most)
                      trickle   a body of one byte every 50 ms, without an end (120 s at most)
                      endless   a body without a length that never ends (2 GB at most)
                      huge      a body of 40 MB with its length
                      redirect  a redirect to the same address, for ever
                      redirect-file  a redirect to file:///etc/passwd
                    a file DIR/a/b.slow holding a number of seconds sends the file DIR/a/b with its
                    length, spread evenly over that time
Every request is appended to DIR/requests.log as: method, one blank, the path with its query,
LF; a POST's body follows as "BODY <length> LF <bytes> LF".
"""
import http.server
import os
import socketserver
import sys
import threading
import time
import urllib.parse

from common import announce_and_serve

LINES = b"one\ntwo\r\nthree\rfour\n\nend"
BYTES = bytes(range(256)) * 64


ROOT = sys.argv[sys.argv.index("--root") + 1] if "--root" in sys.argv[1:] else None
log_lock = threading.Lock()


def content_type_of(name):
    """Pages as HTML, so a browser shows them; everything else as plain bytes."""
    return "text/html" if name.lower().endswith((".html", ".htm", ".asp")) else "application/octet-stream"


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def record(self, body=None):
        with log_lock, open(os.path.join(ROOT, "requests.log"), "ab") as f:
            f.write(f"{self.command} {self.path}\n".encode("latin-1"))
            if body is not None:
                f.write(f"BODY {len(body)}\n".encode() + body + b"\n")

    def behave(self, how):
        try:
            if how == "stall":
                time.sleep(120)
                return
            if how in ("redirect", "redirect-file"):
                self.send_response(302)
                self.send_header("Location", self.path if how == "redirect" else "file:///etc/passwd")
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            if how == "huge":
                size = 40 * 1024 * 1024
                self.send_response(200)
                self.send_header("Content-Length", str(size))
                self.end_headers()
                chunk = b"A" * 65536
                for _ in range(size // len(chunk)):
                    self.wfile.write(chunk)
                return
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.flush()
            if how == "trickle":
                for _ in range(2400):
                    self.wfile.write(b"x")
                    self.wfile.flush()
                    time.sleep(0.05)
            elif how == "endless":
                chunk = b"SEITE=1\r\n" * 6554
                for _ in range(2 * 1024 * 1024 * 1024 // len(chunk)):
                    self.wfile.write(chunk)
        except (BrokenPipeError, ConnectionResetError):
            pass
        self.close_connection = True

    def from_root(self, default=None):
        rel = self.path.split("?", 1)[0].lstrip("/")
        name = os.path.abspath(os.path.join(ROOT, rel))
        if not name.startswith(os.path.abspath(ROOT) + os.sep):
            self.reply(403, b"no\n")
            return
        if os.path.isfile(name + ".slow") and os.path.isfile(name):
            with open(name + ".slow") as f:
                seconds = float(f.read().strip())
            with open(name, "rb") as f:
                self.send_slowly(f.read(), seconds)
        elif os.path.isfile(name + ".behave"):
            with open(name + ".behave") as f:
                self.behave(f.read().strip())
        elif os.path.isfile(name + ".status"):
            with open(name + ".status") as f:
                self.reply(int(f.read().strip()), b"error page\n", "text/html")
        elif os.path.isfile(name):
            with open(name, "rb") as f:
                self.reply(200, f.read(), content_type_of(name))
        elif default is not None:
            self.reply(200, default)
        else:
            self.reply(404, b"not here\n")

    def send_slowly(self, body, seconds):
        self.send_response(200)
        self.send_header("Content-Type", content_type_of(self.path.split("?", 1)[0]))
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        parts = 20
        step = max(1, (len(body) + parts - 1) // parts)
        try:
            for i in range(0, len(body), step):
                self.wfile.write(body[i:i + step])
                self.wfile.flush()
                time.sleep(seconds / parts)
        except (BrokenPipeError, ConnectionResetError):
            pass

    def reply(self, status, body, content_type="text/plain"):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        if ROOT:
            self.record()
            self.from_root()
        elif self.path == "/stall":
            time.sleep(10)
            self.reply(200, LINES)
        elif self.path.startswith("/echo/"):
            text = self.path[6:].rsplit("/", 1)[0]
            self.reply(200, urllib.parse.unquote_to_bytes(text))
        elif self.path == "/lines":
            self.reply(200, LINES)
        elif self.path == "/bytes":
            self.reply(200, BYTES, "application/octet-stream")
        elif self.path.startswith("/status/"):
            self.reply(int(self.path[8:]), b"error page\n", "text/html")
        else:
            self.reply(404, b"not here\n")

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(min(length, 64 * 1024 * 1024))
        if ROOT:
            self.record(body)
            self.from_root(b"OK")
            return
        if self.path.startswith("/status/"):
            self.reply(int(self.path[8:]), b"error page\n", "text/html")
            return
        head = self.requestline + "\r\n"
        head += "".join(f"{k}: {v}\r\n" for k, v in self.headers.items())
        self.reply(200, head.encode("latin-1") + b"\r\n" + body)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


if __name__ == "__main__":
    announce_and_serve(Server(("127.0.0.1", 0), Handler))
