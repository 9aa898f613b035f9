#!/usr/bin/env python3
"""A release server for the end-to-end update test: answers the version request and serves the package.

Usage: update_release_server.py ADDRESS PORT DIR
  POST <anything>        -> 200 with the contents of DIR/version.json
  GET  .../Quillmark.zip -> DIR/Quillmark.zip, or 404 when that file is absent
Every request line is appended to DIR/requests.log. Exits 3 when the address cannot be bound.
"""
import http.server
import os
import socketserver
import sys

address, port, folder = sys.argv[1], int(sys.argv[2]), sys.argv[3]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def record(self):
        with open(os.path.join(folder, "requests.log"), "a") as log:
            log.write(f"{self.command} {self.path}\n")

    def reply(self, status, body):
        self.send_response(status)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        if length:
            self.rfile.read(length)
        self.record()
        with open(os.path.join(folder, "version.json"), "rb") as f:
            self.reply(200, f.read())

    def do_GET(self):
        self.record()
        package = os.path.join(folder, "Quillmark.zip")
        if self.path.split("?")[0].endswith("/Quillmark.zip") and os.path.exists(package):
            with open(package, "rb") as f:
                self.reply(200, f.read())
        else:
            self.reply(404, b"not found")


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    allow_reuse_address = True
    daemon_threads = True


try:
    server = Server((address, port), Handler)
except OSError as error:
    print(f"cannot listen on {address}:{port}: {error}", file=sys.stderr)
    sys.exit(3)
open(os.path.join(folder, "ready"), "w").close()
server.serve_forever()
