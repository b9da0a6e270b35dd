#!/usr/bin/python3
"""A TLS peer for the transport tests, on a free loopback port.

Prints its port on the first line of standard output, serves one
connection and exits. Modes:
  echo       sends back every byte it reads until the client closes;
  midrecord  reads one line, then sends the first half of a TLS record of
             application data and closes the connection;
  silent     accepts the TCP connection and never answers the handshake;
  digest     reads --expect bytes, then answers "<count>:<FNV-1a 64 in hex>\n".
"""
import argparse
import socket
import ssl
import sys


def handshake_in_memory(raw, obj, incoming, outgoing):
    while True:
        try:
            obj.do_handshake()
            break
        except ssl.SSLWantReadError:
            out = outgoing.read()
            if out:
                raw.sendall(out)
            data = raw.recv(65536)
            if not data:
                raise ConnectionError("client went away in the handshake")
            incoming.write(data)
    out = outgoing.read()
    if out:
        raw.sendall(out)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cert", required=True)
    ap.add_argument("--key", required=True)
    ap.add_argument("--mode", choices=["echo", "midrecord", "silent", "digest"], default="echo")
    ap.add_argument("--expect", type=int, default=0, help="bytes the digest mode reads")
    ap.add_argument("--tls", choices=["1.2", "1.3"], help="the one protocol version offered")
    args = ap.parse_args()

    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(args.cert, args.key)
    if args.tls == "1.2":
        ctx.minimum_version = ctx.maximum_version = ssl.TLSVersion.TLSv1_2
    elif args.tls == "1.3":
        ctx.minimum_version = ctx.maximum_version = ssl.TLSVersion.TLSv1_3

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    listener.settimeout(60)
    print(listener.getsockname()[1], flush=True)
    raw, _ = listener.accept()
    raw.settimeout(60)

    if args.mode == "silent":
        try:
            raw.recv(65536)
            raw.recv(65536)
        except OSError:
            pass
        return

    if args.mode == "midrecord":
        incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
        obj = ctx.wrap_bio(incoming, outgoing, server_side=True)
        handshake_in_memory(raw, obj, incoming, outgoing)
        line = b""
        while not line.endswith(b"\n"):
            try:
                line += obj.read(65536)
            except ssl.SSLWantReadError:
                data = raw.recv(65536)
                if not data:
                    return
                incoming.write(data)
        obj.write(b"x" * 4000)
        record = outgoing.read()
        raw.sendall(record[: len(record) // 2])
        raw.close()
        return

    conn = ctx.wrap_socket(raw, server_side=True)
    if args.mode == "digest":
        got = bytearray()
        while len(got) < args.expect:
            data = conn.recv(65536)
            if not data:
                break
            got += data
        h = 0xCBF29CE484222325
        for b in got:
            h = ((h ^ b) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
        conn.sendall(("%d:%016x\n" % (len(got), h)).encode())
        conn.recv(1)
        return
    while True:
        try:
            data = conn.recv(65536)
        except (ssl.SSLError, OSError):
            break
        if not data:
            break
        conn.sendall(data)
    try:
        conn.close()
    except OSError:
        pass


if __name__ == "__main__":
    try:
        main()
    except Exception as e:  # the test sees the closed connection
        print("tlspeer:", e, file=sys.stderr)
