#!/usr/bin/env python3
# A loopback update server for the update tests. Prints "PORT <n>" once listening.
#   update_server.py <folder>
# GET /autocheck.php?softwareid=<id>&os=mac answers "<folder>/<id>.answer" (200 with a
# Content-Length), or a scripted answer when <id> is one of the MODES below. GET
# /files/<name> serves "<folder>/files/<name>"; /files-trunc/ sends half of it and closes,
# /files-404/ answers 404, /files-slow/ sends the head and then nothing for 60 s,
# /files-once/ breaks off the first transfer of each file and serves the next ones whole.
# The id "mode-drip" gets a good head and then one byte every 0.2 s for as long as the
# client listens.
# Every request's target and User-Agent are appended to "<folder>/requests.log".
import os
import socket
import socketserver
import sys
import time
from urllib.parse import urlsplit, parse_qs

FOLDER = sys.argv[1]
BROKEN_ONCE = set()
GOOD = b"2.0\r\nhttp://example.invalid/u.zip\r\nhttp://example.invalid/\r\n"

def sized(n):
    return GOOD + b"x" * (n - len(GOOD))

def ok(body, length=True, version=b"1.1"):
    head = b"HTTP/" + version + b" 200 OK\r\n"
    if length:
        head += b"Content-Length: %d\r\n" % len(body)
    return head + b"\r\n" + body

MODES = {
    "mode-404": b"HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\n\r\nno\n",
    "mode-nolen": b"HTTP/1.0 200 OK\r\n\r\n" + GOOD,
    "mode-chunked": b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n%x\r\n" % len(GOOD) + GOOD + b"\r\n0\r\n\r\n",
    "mode-zero": ok(b""),
    "mode-65536": ok(sized(65536)),
    "mode-65537": ok(sized(65537)),
    "mode-lf": ok(b"2.0\nhttp://example.invalid/u.zip\nhttp://example.invalid/\n"),
    "mode-trunc": b"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + GOOD,
}

class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        conn = self.request
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = conn.recv(65536)
            if not chunk:
                return
            data += chunk
        lines = data.split(b"\r\n\r\n", 1)[0].split(b"\r\n")
        target = lines[0].split(b" ")[1].decode("latin-1")
        agent = ""
        for line in lines[1:]:
            name, _, value = line.partition(b":")
            if name.strip().lower() == b"user-agent":
                agent = value.strip().decode("latin-1")
        with open(os.path.join(FOLDER, "requests.log"), "a") as log:
            log.write(target + "\t" + agent + "\n")
        url = urlsplit(target)
        if url.path == "/autocheck.php":
            ident = parse_qs(url.query).get("softwareid", [""])[0]
            if ident == "mode-slow":
                time.sleep(60)
                return
            if ident == "mode-drip":
                try:
                    conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 65536\r\n\r\n" + GOOD)
                    while True:
                        time.sleep(0.2)
                        conn.sendall(b"x")
                except OSError:
                    pass
                return
            if ident in MODES:
                conn.sendall(MODES[ident])
                return
            path = os.path.join(FOLDER, ident.replace("/", "_") + ".answer")
            if os.path.isfile(path):
                conn.sendall(ok(open(path, "rb").read()))
            else:
                conn.sendall(MODES["mode-404"])
            return
        kind, _, name = url.path.lstrip("/").partition("/")
        path = os.path.join(FOLDER, "files", os.path.basename(name))
        if kind == "files-404" or not os.path.isfile(path):
            conn.sendall(MODES["mode-404"])
            return
        body = open(path, "rb").read()
        if kind == "files":
            conn.sendall(ok(body))
        elif kind == "files-once" and name in BROKEN_ONCE:
            conn.sendall(ok(body))
        elif kind in ("files-trunc", "files-once"):
            if kind == "files-once":
                BROKEN_ONCE.add(name)
            conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body) + body[: len(body) // 2])
        elif kind == "files-slow":
            conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body))
            time.sleep(60)

class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

srv = Server(("127.0.0.1", 0), Handler)
print("PORT %d" % srv.server_address[1], flush=True)
srv.serve_forever()
