"""A small HTTP CONNECT proxy on a free loopback port for the proxy tunnel
tests. It prints its port, then serves connections one after another as its
mode says, and appends each request head it reads to the record file:
  tunnel          opens the tunnel to the requested loopback peer
  auth:USER:PASS  the same once Basic credentials USER:PASS are given; 407
                  with a Basic challenge otherwise
  status:CODE     answers the CONNECT with that status
  close           closes the connection after reading the request
  silent          reads the request and never answers
Only loopback targets are tunnelled."""
import base64
import select
import socket
import sys
import time


def read_head(conn):
    data = b""
    conn.settimeout(10)
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(4096)
        if not chunk:
            return None
        data += chunk
    return data.split(b"\r\n\r\n", 1)[0].decode("latin-1")


def relay(a, b):
    pair = {a: b, b: a}
    deadline = time.time() + 30
    while time.time() < deadline:
        ready, _, _ = select.select([a, b], [], [], 1)
        for s in ready:
            data = s.recv(65536)
            if not data:
                return
            pair[s].sendall(data)


def serve(conn, mode, record):
    head = read_head(conn)
    if head is None:
        return
    with open(record, "a") as f:
        f.write(head + "\n----\n")
    lines = head.split("\r\n")
    parts = lines[0].split()
    if len(parts) < 2 or parts[0] != "CONNECT":
        conn.sendall(b"HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\n\r\n")
        return
    if mode == "close":
        return
    if mode == "silent":
        time.sleep(30)
        return
    if mode.startswith("status:"):
        code = mode.split(":", 1)[1]
        conn.sendall(("HTTP/1.1 %s Refused\r\nContent-Length: 0\r\n\r\n" % code).encode())
        return
    if mode.startswith("auth:"):
        want = "Basic " + base64.b64encode(mode.split(":", 1)[1].encode()).decode()
        given = [l.split(":", 1)[1].strip() for l in lines[1:] if l.lower().startswith("proxy-authorization:")]
        if given != [want]:
            conn.sendall(b"HTTP/1.1 407 Proxy Authentication Required\r\n"
                         b"Proxy-Authenticate: Basic realm=\"test\"\r\nContent-Length: 0\r\n\r\n")
            # libcurl asks again on the same connection with credentials.
            serve(conn, mode, record)
            return
    host, port = parts[1].rsplit(":", 1)
    if host.strip("[]") not in ("127.0.0.1", "localhost", "::1"):
        conn.sendall(b"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n")
        return
    peer = socket.create_connection((host.strip("[]"), int(port)), timeout=10)
    conn.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
    conn.settimeout(None)
    relay(conn, peer)
    peer.close()


def main():
    mode, record = sys.argv[1], sys.argv[2]
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)
    print(listener.getsockname()[1], flush=True)
    listener.settimeout(60)
    while True:
        try:
            conn, _ = listener.accept()
        except socket.timeout:
            return
        try:
            serve(conn, mode, record)
        except OSError:
            pass
        finally:
            conn.close()


if __name__ == "__main__":
    main()
