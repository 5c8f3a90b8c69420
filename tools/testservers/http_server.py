#!/usr/bin/env python3
"""Stand-in HTTP server for the tests of the internet helpers.

GET /lines          a text body with LF, CR LF and lone CR line ends
GET /bytes          256 * 64 bytes of every value, in order
GET /status/NNN     answers with status NNN and a short error page
GET /echo/TEXT/NAME  answers with TEXT, percent-decoded (a settable reply for any file name)
GET /stall          answers like /lines, but only after 10 seconds
POST (any path)     200; the body echoes the request: request line, header lines, blank line, body
"""
import http.server
import socketserver
import time
import urllib.parse

from common import announce_and_serve

LINES = b"one\ntwo\r\nthree\rfour\n\nend"
BYTES = bytes(range(256)) * 64


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def reply(self, status, body, content_type="text/plain"):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        if self.path == "/stall":
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
        body = self.rfile.read(length)
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
