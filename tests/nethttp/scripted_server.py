#!/usr/bin/env python3
# A loopback HTTP server with scripted misbehaviour, for what http.server cannot do.
# Prints "PORT <n>" once listening; the path picks the answer (see ROUTES).
import base64
import random
import socket
import sys
import threading
import time
from email.parser import BytesParser
from email.policy import HTTP
from urllib.parse import urlsplit, parse_qs

def pattern(n):
    # Same bytes as the tests' reference: (i * 131 + (i >> 9)) & 255.
    return bytes(((i * 131 + (i >> 9)) & 255) for i in range(n))

def read_request(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(65536)
        if not chunk or len(data) > (1 << 20):
            return None, None, None
        data += chunk
    head, rest = data.split(b"\r\n\r\n", 1)
    lines = head.split(b"\r\n")
    method, target, _ = lines[0].split(b" ", 2)
    length = 0
    for line in lines[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value.strip())
    while len(rest) < length:
        chunk = conn.recv(65536)
        if not chunk:
            break
        rest += chunk
    return head + b"\r\n\r\n", target.decode("latin-1"), rest

def answer(conn, head, target, body):
    url = urlsplit(target)
    q = {k: v[0] for k, v in parse_qs(url.query).items()}
    path = url.path
    n = int(q.get("n", "1000"))
    if path == "/404":
        conn.sendall(b"HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found")
    elif path == "/noclen":
        conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n" + pattern(n))
    elif path == "/chunked":
        rnd = random.Random(int(q.get("seed", "1")))
        out = [b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"]
        data = pattern(n)
        pos = 0
        while pos < len(data):
            size = min(rnd.randint(1, 70000), len(data) - pos)
            ext = b";name=value" if rnd.random() < 0.3 else b""
            hexs = (b"%x" if rnd.random() < 0.5 else b"%X") % size
            out.append(hexs + ext + b"\r\n" + data[pos:pos + size] + b"\r\n")
            pos += size
        out.append(b"0\r\nX-Trailer: yes\r\n\r\n")
        blob = b"".join(out)
        # Odd write sizes so chunk lines straddle reads.
        pos = 0
        while pos < len(blob):
            step = rnd.randint(1, 90000)
            conn.sendall(blob[pos:pos + step])
            pos += step
    elif path == "/zero":
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n")
    elif path == "/short":
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + pattern(500))
    elif path == "/trickle":
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % n)
        data = pattern(n)
        for i in range(0, n, 10):
            time.sleep(0.02)
            conn.sendall(data[i:i + 10])
    elif path == "/hang":
        time.sleep(float(q.get("s", "10")))
    elif path == "/bighead":
        filler = b"".join(b"X-Filler-%d: %s\r\n" % (i, b"a" * 100) for i in range(700))
        conn.sendall(b"HTTP/1.1 200 OK\r\n" + filler + b"Content-Length: 2\r\n\r\nok")
    elif path == "/echohead":
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(head) + head)
    elif path == "/form":
        ctype = b""
        for line in head.split(b"\r\n")[1:]:
            name, _, value = line.partition(b":")
            if name.strip().lower() == b"content-type":
                ctype = value.strip()
        msg = BytesParser(policy=HTTP).parsebytes(b"Content-Type: " + ctype + b"\r\n\r\n" + body)
        lines = []
        if msg.is_multipart():
            for part in msg.iter_parts():
                lines.append("%s|%s|%s|%s" % (part.get_param("name", header="content-disposition"),
                                              part.get_filename() or "",
                                              part.get("Content-Type", ""),
                                              part.get_payload(decode=True).hex()))
        else:
            lines.append("raw|%s|%s" % (ctype.decode(), body.hex()))
        out = ("\n".join(lines) + "\n").encode()
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(out) + out)
    elif path == "/raw":
        # The exact answer bytes, base64url in the query.
        conn.sendall(base64.urlsafe_b64decode(q.get("b", "")))
    else:
        conn.sendall(b"HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n")

def serve(conn):
    with conn:
        conn.settimeout(30)
        try:
            head, target, body = read_request(conn)
            if head is not None:
                answer(conn, head, target, body)
        except OSError:
            pass

def main():
    srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", 0))
    srv.listen(32)
    print("PORT %d" % srv.getsockname()[1], flush=True)
    while True:
        conn, _ = srv.accept()
        threading.Thread(target=serve, args=(conn,), daemon=True).start()

main()
