#!/usr/bin/env python3
# Loopback echo server for the socket tests: prints "PORT <n>", then echoes every
# connection until the client closes its side. Usage: echo_server.py [bind-address]
import socket
import sys
import threading

def serve(conn):
    with conn:
        conn.settimeout(30)
        try:
            while True:
                data = conn.recv(65536)
                if not data:
                    break
                conn.sendall(data)
        except OSError:
            pass

def main():
    host = sys.argv[1] if len(sys.argv) > 1 else "127.0.0.1"
    family = socket.AF_INET6 if ":" in host else socket.AF_INET
    srv = socket.socket(family, socket.SOCK_STREAM)
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind((host, 0))
    srv.listen(16)
    print("PORT %d" % srv.getsockname()[1], flush=True)
    while True:
        conn, _ = srv.accept()
        threading.Thread(target=serve, args=(conn,), daemon=True).start()

main()
