#!/usr/bin/env python3
"""Loopback HTTP/1.1 file server for bench_http.sh that is not the bottleneck: each GET is
answered with socket.sendfile (the kernel's sendfile, no copies through Python), one thread per
connection. Prints the port it listens on, then serves until killed.
Usage: sendfile_server.py folder"""
import os
import socket
import sys
import threading


def serve(conn, root):
    with conn:
        data = b""
        while b"\r\n\r\n" not in data:
            piece = conn.recv(65536)
            if not piece:
                return
            data += piece
        parts = data.split(b"\r\n", 1)[0].split()
        name = os.path.basename(parts[1].decode(errors="replace")) if len(parts) > 1 else ""
        path = os.path.join(root, name)
        if not name or not os.path.isfile(path):
            conn.sendall(b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
            return
        with open(path, "rb") as f:
            size = os.fstat(f.fileno()).st_size
            conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                         b"Content-Length: %d\r\nConnection: close\r\n\r\n" % size)
            conn.sendfile(f)


def main():
    root = sys.argv[1]
    srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", 0))
    srv.listen(16)
    print(srv.getsockname()[1], flush=True)
    while True:
        conn, _ = srv.accept()
        threading.Thread(target=serve, args=(conn, root), daemon=True).start()


if __name__ == "__main__":
    main()
