"""An HTTP peer for the HTTP connection's tests: prints its port, then
answers each POST with 200 and a body of --reply bytes that starts with
"length=N;" (N the request body's length as read by Content-Length), or
with 401 and a text when the path is /refuse. On /cookie the reply sets
the session cookie "hive.server2.auth" and its body also says
"cookie=C;" (C the request's Cookie header); on /folded every second
request is answered with a blank-started line right after the status line,
which continues no header of that reply. With "--record FILE" after
the reply size, each request's method, path and headers go to FILE as one
JSON object a line. Serves until killed."""
import http.server
import json
import sys

REPLY = int(sys.argv[1]) if len(sys.argv) > 1 else 40000
RECORD = sys.argv[3] if len(sys.argv) > 3 and sys.argv[2] == "--record" else None


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    requests = 0

    def do_POST(self):
        Handler.requests += 1
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        if RECORD is not None:
            with open(RECORD, "a") as f:
                f.write(json.dumps({"method": self.command, "path": self.path, "length": len(body),
                                    "headers": [[k, v] for k, v in self.headers.items()]}) + "\n")
        if self.path == "/refuse":
            text = b"Authentication Error: no such user\n"
            self.send_response(401)
            self.send_header("Content-Length", str(len(text)))
            self.end_headers()
            self.wfile.write(text)
            return
        head = b"length=%d;auth=%s;" % (len(body), self.headers.get("Authorization", "-").encode())
        if self.path == "/cookie":
            head += b"cookie=%s;" % self.headers.get("Cookie", "-").encode()
        reply = (head + bytes(body[:16]) + b"." * REPLY)[:REPLY]
        if self.path == "/folded" and Handler.requests % 2 == 0:
            self.wfile.write(b"HTTP/1.1 200 OK\r\n folded: line\r\nContent-Length: %d\r\n\r\n" % len(reply) + reply)
            return
        self.send_response(200)
        if self.path == "/cookie":
            self.send_header("Set-Cookie", "hive.server2.auth=abc; Path=/")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
