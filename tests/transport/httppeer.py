"""An HTTP peer for the HTTP connection's tests: prints its port, then
answers each POST with 200 and a body of --reply bytes that starts with
"length=N;" (N the request body's length as read by Content-Length), or
with 401 and a text when the path is /refuse. With "--record FILE" after
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

    def do_POST(self):
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
        reply = (head + bytes(body[:16]) + b"." * REPLY)[:REPLY]
        self.send_response(200)
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
