"""A damaging proxy for the HiveServer2 wire: it sits between a client and an
unmodified HiveServer2 test server and spoils one reply per client connection,
so that a driver's handling of bad replies can be tried over and over with the
same damage.

Both transports are understood: binary (the SASL negotiation messages, then
4-byte big-endian frames) and HTTP (POST requests and replies with
Content-Length bodies). A connection's fault is drawn from the seed and the
connection's number, so a seed replays exactly. The reply is recognised by the
Thrift message name it carries, and walked with the field types of
HiveServer2's IDL, so that the damage can be aimed at a length, a list count, a
field's type byte, a required or optional field, or a value's bytes.

Every connection adds one JSON line to the log: the seed, the connection's
number, the fault's kind, the call aimed at, whether it was applied, where, and
whether the damage is structural (framing, lengths, counts, types, fields) or
only spoils a value's bytes.

Used as a module by the driver's damage test and as a program by
tools/hs2damage/hs2damage."""

import json
import os
import random
import re
import select
import socket
import struct
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_IDL = os.path.join(os.path.dirname(HERE), "hs2server", "node_modules", "hive-driver",
                           "thrift", "TCLIService.thrift")

# Thrift binary protocol type bytes.
T_STOP, T_BOOL, T_BYTE, T_DOUBLE, T_I16, T_I32, T_I64 = 0, 2, 3, 4, 6, 8, 10
T_STRING, T_STRUCT, T_MAP, T_SET, T_LIST = 11, 12, 13, 14, 15
FIXED_SIZE = {T_BOOL: 1, T_BYTE: 1, T_DOUBLE: 8, T_I16: 2, T_I32: 4, T_I64: 8}
VALID_TYPES = (T_BOOL, T_BYTE, T_DOUBLE, T_I16, T_I32, T_I64, T_STRING, T_STRUCT, T_MAP, T_SET, T_LIST)
INVALID_TYPES = (1, 5, 7, 9, 16, 0x7F, 0xFF)
IDL_TYPES = {"bool": T_BOOL, "byte": T_BYTE, "i8": T_BYTE, "double": T_DOUBLE, "i16": T_I16,
             "i32": T_I32, "i64": T_I64, "string": T_STRING, "binary": T_STRING}

# The calls a fault may be aimed at by default, besides "sasl" (the binary
# transport's negotiation answer): those a connection, a query and the
# driver's catalog queries make.
CALLS = ("OpenSession", "GetInfo", "ExecuteStatement", "GetOperationStatus",
         "GetResultSetMetadata", "FetchResults", "CloseOperation", "CloseSession")

# Fault kinds: those that spoil a Thrift reply, those of the transport (any
# reply), and those of the SASL answer. "bitflip" alone is value damage.
THRIFT_KINDS = ("bitflip", "string-length", "list-count", "field-type", "drop-field",
                "repeat-field", "early-stop", "truncate")
TRANSPORT_KINDS = ("cut", "frame-length", "duplicate", "stall", "garbage-first")
SASL_KINDS = ("cut", "frame-length", "duplicate", "stall", "garbage-first", "sasl-status")
VALUE_KINDS = ("bitflip",)

# Fields whose absence means NULL: a row-wise value's own value.
NULL_BY_ABSENCE = re.compile(r"\.colVals\[\d+\]\.\w+\.value$")

STALL_MS = 20000
HUGE = (0x7FFFFFF0, 0xFFFFFFFF, 0x80000000, 0x10000000)


# -- the IDL, for field names and whether a field is required ---------------------
class Idl:
    """Structs of the IDL: name -> {field id: (name, type text, requiredness)}."""

    def __init__(self, path=DEFAULT_IDL):
        self.structs = {}
        self.typedefs = {}
        self.enums = set()
        try:
            with open(path, encoding="utf-8") as f:
                text = f.read()
        except OSError:
            return
        text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
        text = re.sub(r"(//|#)[^\n]*", " ", text)
        for m in re.finditer(r"\btypedef\s+([\w.<>, ]+?)\s+(\w+)\s*\n", text):
            self.typedefs[m.group(2)] = m.group(1).replace(" ", "")
        for m in re.finditer(r"\benum\s+(\w+)\s*\{", text):
            self.enums.add(m.group(1))
        for m in re.finditer(r"\b(?:struct|union|exception)\s+(\w+)\s*\{([^}]*)\}", text):
            fields = {}
            for f in re.finditer(r"(\d+)\s*:\s*(required|optional)?\s*([\w.]+(?:<[^>]*>)?)\s+(\w+)",
                                 m.group(2)):
                fields[int(f.group(1))] = (f.group(4), f.group(3).replace(" ", ""),
                                           f.group(2) or "default")
            self.structs[m.group(1)] = fields

    def resolve(self, type_text):
        seen = 0
        while type_text in self.typedefs and seen < 10:
            type_text, seen = self.typedefs[type_text], seen + 1
        return type_text

    def element(self, type_text, index):
        """The element type of list<X>/set<X> (index 0) or map<K,V> (0, 1)."""
        t = self.resolve(type_text or "")
        m = re.match(r"^(list|set|map)<(.*)>$", t)
        if not m:
            return None
        parts, depth, cur = [], 0, ""
        for ch in m.group(2):
            if ch == "," and depth == 0:
                parts.append(cur)
                cur = ""
                continue
            depth += ch == "<"
            depth -= ch == ">"
            cur += ch
        parts.append(cur)
        return parts[index] if index < len(parts) else None


# -- walking a Thrift binary message ------------------------------------------------
class Malformed(Exception):
    pass


class Walker:
    """Reads a Thrift binary reply and lists the places damage can go:
    fields (with their byte range, path and requiredness), string lengths,
    string bytes, list counts and fixed-size numbers."""

    def __init__(self, data, idl):
        self.data, self.idl = data, idl
        self.sites = []
        self.name = None

    def _need(self, pos, n):
        if n < 0 or pos + n > len(self.data):
            raise Malformed("short at %d" % pos)

    def _i32(self, pos):
        self._need(pos, 4)
        return struct.unpack_from(">i", self.data, pos)[0]

    def walk(self):
        d = self.data
        self._need(0, 4)
        version = struct.unpack_from(">I", d, 0)[0]
        if version & 0xFFFF0000 != 0x80010000:
            raise Malformed("not a strict binary message")
        n = self._i32(4)
        self._need(8, n)
        self.name = d[8:8 + n].decode("utf-8", "replace")
        pos = 8 + n + 4  # the sequence id
        msg_type = version & 0xFF
        result = "%s_result" % self.name
        if msg_type == 2:  # a reply: field 0 is the call's response struct
            self.idl.structs.setdefault(result, {0: ("success", "T%sResp" % self.name, "optional")})
        pos = self._struct(pos, result if msg_type == 2 else None, self.name)
        return pos

    def _struct(self, pos, sname, path):
        fields = self.idl.structs.get(self.idl.resolve(sname or ""), {})
        while True:
            self._need(pos, 1)
            ftype = self.data[pos]
            if ftype == T_STOP:
                return pos + 1
            self._need(pos, 3)
            fid = struct.unpack_from(">h", self.data, pos + 1)[0]
            fname, ftext, req = fields.get(fid, ("#%d" % fid, None, None))
            fpath = "%s.%s" % (path, fname)
            end = self._value(pos + 3, ftype, ftext, fpath)
            self.sites.append({"k": "field", "off": pos, "end": end, "type": ftype,
                               "path": fpath, "required": req})
            pos = end

    def _value(self, pos, ftype, ttext, path):
        if ftype in FIXED_SIZE:
            size = FIXED_SIZE[ftype]
            self._need(pos, size)
            if ftype != T_BOOL:
                self.sites.append({"k": "num", "off": pos, "size": size, "path": path})
            return pos + size
        if ftype == T_STRING:
            n = self._i32(pos)
            self._need(pos + 4, n)
            self.sites.append({"k": "strlen", "off": pos, "len": n, "path": path})
            if n > 0:
                self.sites.append({"k": "strdata", "off": pos + 4, "len": n, "path": path})
            return pos + 4 + n
        if ftype == T_STRUCT:
            return self._struct(pos, ttext, path)
        if ftype in (T_LIST, T_SET):
            self._need(pos, 5)
            etype = self.data[pos]
            count = self._i32(pos + 1)
            if count < 0 or count > len(self.data):
                raise Malformed("bad count")
            self.sites.append({"k": "count", "off": pos + 1, "count": count, "path": path})
            etext = self.idl.element(ttext, 0)
            pos += 5
            for i in range(count):
                pos = self._value(pos, etype, etext, "%s[%d]" % (path, i))
            return pos
        if ftype == T_MAP:
            self._need(pos, 6)
            ktype, vtype = self.data[pos], self.data[pos + 1]
            count = self._i32(pos + 2)
            if count < 0 or count > len(self.data):
                raise Malformed("bad count")
            self.sites.append({"k": "count", "off": pos + 2, "count": count, "path": path})
            ktext, vtext = self.idl.element(ttext, 0), self.idl.element(ttext, 1)
            pos += 6
            for i in range(count):
                pos = self._value(pos, ktype, ktext, "%s{k%d}" % (path, i))
                pos = self._value(pos, vtype, vtext, "%s{v%d}" % (path, i))
            return pos
        raise Malformed("type %d" % ftype)


def message_name(data):
    """The Thrift message name of a strict binary message, or None."""
    if len(data) < 8 or data[0] != 0x80 or data[1] != 0x01:
        return None
    n = struct.unpack_from(">i", data, 4)[0]
    if n < 0 or 8 + n > len(data):
        return None
    return data[8:8 + n].decode("utf-8", "replace")


# -- choosing and applying a fault --------------------------------------------------
class Fault:
    """One connection's fault: its kind, the call and which of its replies
    (nth, counted from 1) it spoils, and the random source that places it."""

    def __init__(self, seed, conn, transport, calls=CALLS):
        self.rng = random.Random("hs2damage/%d/%d/%s" % (seed, conn, transport))
        rng = self.rng
        targets = list(calls) + (["sasl"] if transport == "binary" else [])
        self.call = rng.choice(targets)
        kinds = SASL_KINDS if self.call == "sasl" else THRIFT_KINDS + TRANSPORT_KINDS
        self.kind = rng.choice(kinds)
        if self.kind == "garbage-first":
            self.call = "first"
        self.nth = rng.choice((1, 1, 2)) if self.call not in ("sasl", "first") else 1
        self.seen = {}
        self.record = {"seed": seed, "conn": conn, "transport": transport, "kind": self.kind,
                       "call": self.call, "nth": self.nth, "applied": False,
                       "structural": self.kind not in VALUE_KINDS}

    def note(self, **what):
        self.record.update(what)

    def spoil_thrift(self, payload, idl):
        """The damaged Thrift reply for a kind of THRIFT_KINDS, or None when the
        reply offers no place for it (the fault then stays unapplied)."""
        rng = self.rng
        w = Walker(payload, idl)
        try:
            w.walk()
        except Malformed as e:
            self.note(detail="reply not walkable: %s" % e)
            return None
        by = {}
        for s in w.sites:
            by.setdefault(s["k"], []).append(s)
        data = bytearray(payload)
        kind = self.kind
        if kind == "truncate":
            cut = rng.randrange(1, len(data))
            self.note(detail="reply cut to %d of %d bytes" % (cut, len(data)))
            return bytes(data[:cut])
        if kind == "bitflip":
            places = by.get("strdata", []) + by.get("num", [])
            if not places:
                return None
            s = rng.choice(places)
            size = s["len"] if s["k"] == "strdata" else s["size"]
            at = s["off"] + rng.randrange(size)
            bit = rng.randrange(8)
            data[at] ^= 1 << bit
            self.note(path=s["path"], detail="bit %d of byte %d flipped" % (bit, at))
            return bytes(data)
        if kind == "string-length":
            if not by.get("strlen"):
                return None
            s = rng.choice(by["strlen"])
            new = rng.choice(HUGE + (s["len"] + 1, s["len"] + 1000, max(s["len"] - 1, 0) if s["len"] else 7))
            struct.pack_into(">I", data, s["off"], new & 0xFFFFFFFF)
            self.note(path=s["path"], detail="string length %d -> %d" % (s["len"], _signed(new)))
            return bytes(data)
        if kind == "list-count":
            if not by.get("count"):
                return None
            s = rng.choice(by["count"])
            new = rng.choice(HUGE + (s["count"] + 1, max(s["count"] - 1, 0) if s["count"] else 3))
            struct.pack_into(">I", data, s["off"], new & 0xFFFFFFFF)
            self.note(path=s["path"], detail="list count %d -> %d" % (s["count"], _signed(new)),
                      count_from=s["count"], count_to=_signed(new))
            return bytes(data)
        fields = by.get("field", [])
        if not fields:
            return None
        s = rng.choice(fields)
        self.note(path=s["path"], required=s["required"])
        if kind == "field-type":
            choices = [t for t in VALID_TYPES if t != s["type"]] + list(INVALID_TYPES)
            new = rng.choice(choices)
            data[s["off"]] = new
            self.note(detail="field type %d -> %d" % (s["type"], new))
            return bytes(data)
        if kind == "drop-field":
            self.note(detail="field dropped (%d bytes)" % (s["end"] - s["off"]))
            if s["required"] == "optional" and NULL_BY_ABSENCE.search(s["path"]):
                # A row-wise value without its value field is a NULL: the
                # reply stays well-formed, only the value changes.
                self.note(structural=False)
            return bytes(data[:s["off"]] + data[s["end"]:])
        if kind == "repeat-field":
            self.note(detail="field repeated (%d bytes)" % (s["end"] - s["off"]))
            return bytes(data[:s["end"]] + data[s["off"]:s["end"]] + data[s["end"]:])
        if kind == "early-stop":
            self.note(detail="STOP inserted before the field")
            return bytes(data[:s["off"]] + b"\x00" + data[s["off"]:])
        return None


def _signed(v):
    return struct.unpack(">i", struct.pack(">I", v & 0xFFFFFFFF))[0]


def garbage(rng):
    return rng.choice((b"\x00\x00", b"\xff\xfe\xfd\xfc\xfb", b"HTTP/1.0 200 OK\r\n\r\n",
                       bytes(rng.randrange(256) for _ in range(rng.randrange(1, 40)))))


# -- the proxy ---------------------------------------------------------------------
class Closed(Exception):
    pass


def read_exact(sock, n):
    out = bytearray()
    while len(out) < n:
        chunk = sock.recv(min(n - len(out), 1 << 20))
        if not chunk:
            raise Closed()
        out += chunk
    return bytes(out)


def stall(client, ms):
    """Holds a reply for ms milliseconds, or until the client goes away."""
    end = time.monotonic() + ms / 1000.0
    while True:
        left = end - time.monotonic()
        if left <= 0:
            return True
        r, _, _ = select.select([client], [], [], min(left, 0.2))
        if r:
            try:
                if not client.recv(1, socket.MSG_PEEK):
                    return False
            except OSError:
                return False
            time.sleep(0.05)


class DamageProxy:
    """Listens on a loopback port and damages each connection's traffic to
    the test server on upstream_port as its seed says. set_seed() starts a
    new numbering of connections under a new seed; a seed of None passes
    everything through untouched. With damaged set, only the first that many
    connections of a seed are damaged and later ones (a client's reconnects)
    pass through, so that what a client does is down to one fault."""

    def __init__(self, upstream_port, transport, log_path, seed=None, calls=CALLS,
                 stall_ms=STALL_MS, idl_path=DEFAULT_IDL, host="127.0.0.1", damaged=None):
        self.upstream = (host, upstream_port)
        self.damaged = damaged
        self.transport = transport
        self.log_path = log_path
        self.calls = calls
        self.stall_ms = stall_ms
        self.idl = Idl(idl_path)
        self.lock = threading.Lock()
        self.seed, self.next_conn = seed, 0
        family = socket.AF_INET6 if ":" in host else socket.AF_INET
        self.sock = socket.socket(family, socket.SOCK_STREAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind((host, 0))
        self.sock.listen(64)
        self.port = self.sock.getsockname()[1]
        self.stopping = False
        self.thread = threading.Thread(target=self._accept, daemon=True)
        self.thread.start()

    def set_seed(self, seed):
        with self.lock:
            self.seed, self.next_conn = seed, 0

    def stop(self):
        self.stopping = True
        try:
            self.sock.close()
        except OSError:
            pass

    def _log(self, record):
        with self.lock:
            with open(self.log_path, "a") as f:
                f.write(json.dumps(record, sort_keys=True) + "\n")

    def _accept(self):
        while not self.stopping:
            try:
                client, _ = self.sock.accept()
            except OSError:
                return
            with self.lock:
                seed, conn = self.seed, self.next_conn
                self.next_conn += 1
            spoil = seed is not None and (self.damaged is None or conn < self.damaged)
            fault = Fault(seed, conn, self.transport, self.calls) if spoil else None
            threading.Thread(target=self._serve, args=(client, fault), daemon=True).start()

    def _serve(self, client, fault):
        upstream = None
        try:
            upstream = socket.create_connection(self.upstream, timeout=30)
            upstream.settimeout(None)
            if self.transport == "http":
                self._http(client, upstream, fault)
            else:
                self._binary(client, upstream, fault)
        except (Closed, OSError):
            pass
        finally:
            for s in (client, upstream):
                if s is not None:
                    try:
                        s.close()
                    except OSError:
                        pass
            if fault is not None and not fault.record["applied"]:
                fault.note(seen=fault.seen)
                self._log(fault.record)

    def _applied(self, fault):
        fault.note(applied=True)
        self._log(fault.record)

    # binary: the client's bytes go up untouched; the server's SASL messages
    # and frames come down one by one, and one of them is spoiled.
    def _binary(self, client, upstream, fault):
        threading.Thread(target=_pump, args=(client, upstream), daemon=True).start()
        first = True
        while True:  # the SASL negotiation
            head = read_exact(upstream, 5)
            status, n = struct.unpack(">BI", head)
            msg = head + read_exact(upstream, n)
            if fault is not None and fault.call in ("sasl", "first") and first:
                if not self._send_damaged(client, fault, msg, "sasl", 1):
                    return
            else:
                client.sendall(msg)
            first = False
            if status != 2:  # COMPLETE ends it; BAD and ERROR end the connection
                break
        seen = {}
        while True:
            head = read_exact(upstream, 4)
            n = struct.unpack(">I", head)[0]
            payload = read_exact(upstream, n)
            name = message_name(payload)
            seen[name] = seen.get(name, 0) + 1
            if fault is not None:
                fault.seen = seen
            if (fault is not None and not fault.record["applied"] and name == fault.call
                    and seen[name] == fault.nth):
                spoiled = payload
                if fault.kind in THRIFT_KINDS:
                    spoiled = fault.spoil_thrift(payload, self.idl)
                    if spoiled is None:
                        client.sendall(head + payload)
                        continue
                    head = struct.pack(">I", len(spoiled))
                if not self._send_damaged(client, fault, head + spoiled, name, 0):
                    return
            else:
                client.sendall(head + payload)

    def _send_damaged(self, client, fault, msg, what, len_at):
        """Sends a framed message (its length at len_at) as the transport
        fault says; False when the connection is to end."""
        rng, kind = fault.rng, fault.kind
        if kind in THRIFT_KINDS:
            self._applied(fault)
            client.sendall(msg)
            return True
        if kind == "sasl-status":
            new = rng.choice((0, 1, 3, 4, 6, 0xFF))
            fault.note(detail="SASL status %d -> %d" % (msg[0], new))
            self._applied(fault)
            client.sendall(bytes([new]) + msg[1:])
            return True
        if kind == "frame-length":
            old = struct.unpack_from(">I", msg, len_at)[0]
            new = rng.choice(HUGE + (0, old // 2))
            fault.note(detail="%s length %d -> %d" % (what, old, _signed(new)))
            self._applied(fault)
            client.sendall(msg[:len_at] + struct.pack(">I", new) + msg[len_at + 4:])
            if new in HUGE:
                client.shutdown(socket.SHUT_RDWR)
                return False
            return True
        return self._send_spoilt(client, fault, msg, what)

    def _send_spoilt(self, client, fault, whole, what):
        """Sends a whole reply (frame, or HTTP head and body) as a fault of
        both transports says; False when the connection is to end."""
        rng, kind = fault.rng, fault.kind
        if kind == "garbage-first":
            junk = garbage(rng)
            fault.note(detail="%d bytes of garbage before the first reply" % len(junk))
            self._applied(fault)
            client.sendall(junk + whole)
            return True
        if kind == "cut":
            cut = rng.randrange(1, len(whole))
            fault.note(detail="%s cut after %d of %d bytes, connection closed" % (what, cut, len(whole)))
            self._applied(fault)
            client.sendall(whole[:cut])
            client.shutdown(socket.SHUT_RDWR)
            return False
        if kind == "duplicate":
            fault.note(detail="%s sent twice" % what, bytes_after=len(whole))
            self._applied(fault)
            client.sendall(whole + whole)
            return True
        if kind == "stall":
            fault.note(detail="%s held %d ms" % (what, self.stall_ms))
            self._applied(fault)
            if not stall(client, self.stall_ms):
                return False
            client.sendall(whole)
            return True
        raise ValueError(kind)

    # HTTP: one request up, one reply down, in turn; the reply's body (or its
    # head) is spoiled.
    def _http(self, client, upstream, fault):
        cbuf, ubuf = bytearray(), bytearray()
        seen = {}
        first = True
        while True:
            head, body = _http_message(client, cbuf)
            upstream.sendall(head + body)
            rhead, rbody = _http_message(upstream, ubuf)
            name = message_name(rbody)
            seen[name] = seen.get(name, 0) + 1
            if fault is not None:
                fault.seen = seen
            hit = fault is not None and not fault.record["applied"] and (
                (fault.call == "first" and first)
                or (name == fault.call and seen[name] == fault.nth))
            first = False
            if not hit:
                client.sendall(rhead + rbody)
                if b"connection: close" in rhead.lower():
                    return
                continue
            if fault.kind in THRIFT_KINDS:
                spoiled = fault.spoil_thrift(rbody, self.idl)
                if spoiled is None:
                    client.sendall(rhead + rbody)
                    continue
                self._applied(fault)
                client.sendall(_with_length(rhead, len(spoiled)) + spoiled)
                continue
            if not self._http_damaged(client, fault, rhead, rbody, name):
                return

    def _http_damaged(self, client, fault, rhead, rbody, name):
        if fault.kind != "frame-length":
            return self._send_spoilt(client, fault, rhead + rbody, name or "reply")
        choice = fault.rng.choice(("huge", "negative", "short", "garbage"))
        if choice == "huge":
            text = str(0x7FFFFFF0)
        elif choice == "negative":
            text = "-%d" % fault.rng.randrange(1, 100)
        elif choice == "short":
            text = str(len(rbody) // 2)
            fault.note(bytes_after=len(rbody) - len(rbody) // 2)
        else:
            text = "12ab"
        fault.note(detail="%s Content-Length %d -> %s" % (name or "reply", len(rbody), text))
        self._applied(fault)
        client.sendall(_with_length(rhead, text) + rbody)
        if choice == "huge":
            client.shutdown(socket.SHUT_RDWR)
            return False
        return True


def _pump(src, dst):
    try:
        while True:
            data = src.recv(65536)
            if not data:
                break
            dst.sendall(data)
    except OSError:
        pass
    try:
        dst.shutdown(socket.SHUT_WR)
    except OSError:
        pass


def _http_message(sock, buf):
    """One HTTP message (head, body) read from sock; buf keeps what was read
    beyond it. A chunked body is passed on as it came."""
    while b"\r\n\r\n" not in buf:
        chunk = sock.recv(65536)
        if not chunk:
            raise Closed()
        buf += chunk
    end = buf.index(b"\r\n\r\n") + 4
    head = bytes(buf[:end])
    del buf[:end]
    length = 0
    chunked = False
    for line in head.split(b"\r\n")[1:]:
        k, _, v = line.partition(b":")
        if k.strip().lower() == b"content-length":
            length = int(v.strip())
        elif k.strip().lower() == b"transfer-encoding" and b"chunked" in v.lower():
            chunked = True
    if chunked:
        body = bytearray()
        while True:
            while b"\r\n" not in buf:
                chunk = sock.recv(65536)
                if not chunk:
                    raise Closed()
                buf += chunk
            i = buf.index(b"\r\n")
            size = int(bytes(buf[:i]).split(b";")[0], 16)
            need = i + 2 + size + 2
            while len(buf) < need:
                chunk = sock.recv(65536)
                if not chunk:
                    raise Closed()
                buf += chunk
            body += buf[:need]
            del buf[:need]
            if size == 0:
                return head, bytes(body)
    while len(buf) < length:
        chunk = sock.recv(65536)
        if not chunk:
            raise Closed()
        buf += chunk
    body = bytes(buf[:length])
    del buf[:length]
    return head, body


def _with_length(head, length):
    out = []
    for line in head.split(b"\r\n"):
        if line.lower().startswith(b"content-length:"):
            line = b"Content-Length: " + str(length).encode()
        out.append(line)
    return b"\r\n".join(out)
