"""Shared start-up of the loopback test servers: bind a free port on 127.0.0.1, print it on the
first line of stdout, and end when the parent closes our stdin (so no server outlives its test)."""
import os
import sys
import threading


def announce_and_serve(server):
    print(server.server_address[1], flush=True)

    def watch_parent():
        try:
            while sys.stdin.buffer.read(4096):
                pass
        finally:
            os._exit(0)

    threading.Thread(target=watch_parent, daemon=True).start()
    server.serve_forever()
