#!/usr/bin/env python3
"""A small HTTP server for the download tests and the download benchmark.

    http_server.py [--tls <certificate> <key>] <folder> [<request log>]

Serves on 127.0.0.1 (a free port, printed as "PORT <n>") until its standard
input closes, over TLS with the given certificate (PEM) when asked:
  /files/<name>     the file, with Content-Length, ETag and Last-Modified;
                    "Range: bytes=<n>-" is answered with 206 unless an
                    "If-Range" validator no longer matches (then 200, whole)
  /slow/<name>      the same in 32 pieces, 30 ms apart
  /holdonce/<name>  the first request for <name> gets half the body and then
                    nothing more until the client goes; later ones as /files/
  /cutonce/<name>   the first request for <name> gets half the body, then the
                    connection closes; later ones as /files/
  /busyonce/<name>  the first request for <name> gets 503; later ones as /files/
  /cut/<name>       announces the whole length, sends half the body, closes;
                    no validators, no ranges
  /raw/<name>       the bytes of <name> as they are, status line and headers
                    included, then the connection closes
  /redirect/<name>  302 to /files/<name>
  /loop/<name>      302 to itself
  anything else     404
The query "noranges" makes a path ignore Range and If-Range, "noifrange" only
If-Range; "noetag" leaves out ETag (Last-Modified is the validator) and
"bare206" leaves ETag and Last-Modified out of a 206; "status=<n>" answers a
whole file with <n> instead of 200 and "rangestatus=<n>" a range with <n>
instead of 206 (no body for 204). Each request appends "<path> range=<Range>
if-range=<If-Range> <status> <body bytes sent>" to the request log once it has
been answered; a refused TLS handshake appends "TLS-REFUSED <reason>".
"""
import email.utils
import http.server
import os
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def setup(self):
        # The handshake runs here, in the connection's own thread; a client
        # that refuses the certificate ends it.
        if self.server.tls:
            try:
                self.request.do_handshake()
            except (ssl.SSLError, OSError) as error:
                self.server.append("TLS-REFUSED %s\n" % error)
                raise
        super().setup()

    def do_GET(self):
        self.status = 0
        self.sent = 0
        try:
            self.serve()
        except (BrokenPipeError, ConnectionResetError):
            self.close_connection = True
        finally:
            self.record()

    def serve(self):
        parts = urllib.parse.urlsplit(self.path)
        path = urllib.parse.unquote(parts.path)
        kind, _, name = path.lstrip("/").partition("/")
        file_path = os.path.join(self.server.folder, name)
        if not name or "/" in name or not os.path.isfile(file_path):
            return self.answer(404, b"not found\n")
        if kind == "raw":
            with open(file_path, "rb") as f:
                self.send(f.read())
            self.close_connection = True
            return
        if kind == "redirect":
            return self.redirect("/files/" + urllib.parse.quote(name))
        if kind == "loop":
            return self.redirect(parts.path)
        if kind not in ("files", "slow", "holdonce", "cutonce", "busyonce", "cut"):
            return self.answer(404, b"not found\n")
        query = urllib.parse.parse_qs(parts.query, keep_blank_values=True)
        first = self.server.first_time(kind, name)
        if kind == "busyonce" and first:
            return self.answer(503, b"busy\n")

        stat = os.stat(file_path)
        size = stat.st_size
        etag = '"%x-%x"' % (stat.st_mtime_ns, size)
        modified = email.utils.formatdate(stat.st_mtime, usegmt=True)
        start = 0
        ranges = kind != "cut" and "noranges" not in query
        wanted = self.headers.get("Range", "")
        validator = self.headers.get("If-Range")
        if ranges and wanted.startswith("bytes=") and wanted.endswith("-") and (
            validator is None or validator in (etag, modified) or "noifrange" in query
        ):
            start = int(wanted[6:-1])
            if start >= size:
                self.status = 416
                self.send_response(416)
                self.send_header("Content-Range", "bytes */%d" % size)
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
        self.status = 206 if start else 200
        asked = query.get("rangestatus" if start else "status")
        if asked:
            self.status = int(asked[0])
        self.send_response(self.status)
        self.send_header("Content-Type", "application/octet-stream")
        if self.status == 204:
            self.end_headers()
            return
        self.send_header("Content-Length", str(size - start))
        if start:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, size - 1, size))
        if kind != "cut" and not (start and "bare206" in query):
            if "noetag" not in query:
                self.send_header("ETag", etag)
            self.send_header("Last-Modified", modified)
        if ranges:
            self.send_header("Accept-Ranges", "bytes")
        self.end_headers()
        self.wfile.flush()
        with open(file_path, "rb") as f:
            f.seek(start)
            if kind == "cut" or (first and kind in ("holdonce", "cutonce")):
                half = f.read((size - start) // 2)
                if kind == "holdonce":
                    # The last bytes on their own: a client that keeps small
                    # pieces in memory has not written the whole half.
                    self.send(half[:-1000])
                    time.sleep(0.05)
                    half = half[-1000:]
                self.send(half)
                self.close_connection = True
                if kind == "holdonce":
                    # Until the client goes away: the read ends then.
                    self.rfile.read(1)
            elif kind == "slow":
                piece = max(1, -(-size // 32))
                while True:
                    data = f.read(piece)
                    if not data:
                        break
                    self.send(data)
                    time.sleep(0.03)
            else:
                self.sent += self.connection.sendfile(f, start)

    def send(self, data):
        self.wfile.write(data)
        self.wfile.flush()
        self.sent += len(data)

    def redirect(self, location):
        self.status = 302
        self.send_response(302)
        self.send_header("Location", location)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def answer(self, status, body):
        self.status = status
        self.send_response(status)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.send(body)

    def record(self):
        self.server.append("%s range=%s if-range=%s %d %d\n" % (
            self.path,
            self.headers.get("Range", "-"),
            self.headers.get("If-Range", "-"),
            self.status,
            self.sent,
        ))


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True

    def append(self, line):
        if self.log:
            with self.lock, open(self.log, "a") as log:
                log.write(line)

    def handle_error(self, request, client_address):
        pass  # a refused handshake or a client gone

    def first_time(self, kind, name):
        with self.lock:
            if (kind, name) in self.seen:
                return False
            self.seen.add((kind, name))
            return True


def main():
    args = sys.argv[1:]
    server = Server(("127.0.0.1", 0), Handler)
    server.tls = args[0] == "--tls"
    if server.tls:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args[1], args[2])
        server.socket = context.wrap_socket(
            server.socket, server_side=True, do_handshake_on_connect=False)
        args = args[3:]
    server.folder = args[0]
    server.log = args[1] if len(args) > 1 else None
    server.lock = threading.Lock()
    server.seen = set()
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print("PORT", server.server_address[1], flush=True)
    sys.stdin.read()
    server.shutdown()


if __name__ == "__main__":
    main()
