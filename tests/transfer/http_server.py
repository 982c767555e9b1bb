#!/usr/bin/env python3
"""A small HTTP server for the download tests and the download benchmark.

    http_server.py <folder>

Serves on 127.0.0.1 (a free port, printed as "PORT <n>") until its standard
input closes:
  /files/<name>     the file, with Content-Length (sent with sendfile)
  /redirect/<name>  302 to /files/<name>
  /cut/<name>       announces the whole length, sends half the body, closes
  /slow/<name>      the file in 32 pieces, 30 ms apart
  anything else     404
"""
import http.server
import os
import socketserver
import sys
import threading
import time
import urllib.parse


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        path = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path)
        kind, _, name = path.lstrip("/").partition("/")
        file_path = os.path.join(self.server.folder, name)
        if not name or "/" in name or not os.path.isfile(file_path):
            return self.answer(404, b"not found\n")
        if kind == "redirect":
            self.send_response(302)
            self.send_header("Location", "/files/" + urllib.parse.quote(name))
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if kind not in ("files", "cut", "slow"):
            return self.answer(404, b"not found\n")
        size = os.path.getsize(file_path)
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(size))
        self.end_headers()
        self.wfile.flush()
        with open(file_path, "rb") as f:
            if kind == "files":
                self.connection.sendfile(f)
            elif kind == "slow":
                piece = max(1, -(-size // 32))
                while True:
                    data = f.read(piece)
                    if not data:
                        break
                    self.wfile.write(data)
                    self.wfile.flush()
                    time.sleep(0.03)
            else:
                self.wfile.write(f.read(size // 2))
                self.wfile.flush()
                self.close_connection = True

    def answer(self, status, body):
        self.send_response(status)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


def main():
    server = Server(("127.0.0.1", 0), Handler)
    server.folder = sys.argv[1]
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print("PORT", server.server_address[1], flush=True)
    sys.stdin.read()
    server.shutdown()


if __name__ == "__main__":
    main()
