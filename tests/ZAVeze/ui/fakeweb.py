#!/usr/bin/python3
"""Device web interfaces for the firmware upload tests, on 127.0.0.1 only.

Serves N devices, one port each: "POST /cgi-bin/CGI?login" answers with a JSON "result" and a
"session" cookie of its own per port, "POST /cgi-bin/upload" takes a multipart form. Every
request is reported on stdout as one JSON line (login body fields, cookie, the uploaded part's
name, file name, size and SHA-256, and how many requests were in progress at once). The first
line lists the ports. With a certificate and key it speaks HTTPS.
"""
import argparse
import hashlib
import json
import ssl
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

lock = threading.Lock()
active = 0
peak = 0


def report(event):
    with lock:
        sys.stdout.write(json.dumps(event) + "\n")
        sys.stdout.flush()


def parse_multipart(content_type, body):
    boundary = None
    for piece in content_type.split(";"):
        piece = piece.strip()
        if piece.startswith("boundary="):
            boundary = piece[len("boundary="):].strip('"')
    if not boundary:
        return boundary, []
    parts = []
    for chunk in body.split(b"--" + boundary.encode())[1:]:
        if chunk.startswith(b"--"):
            break
        head, _, data = chunk.partition(b"\r\n\r\n")
        if data.endswith(b"\r\n"):
            data = data[:-2]
        headers = head.decode("utf-8", "replace").strip().split("\r\n")
        disposition = next((h for h in headers if h.lower().startswith("content-disposition")), "")
        name = filename = ""
        for item in disposition.split(";"):
            item = item.strip()
            if item.startswith("name="):
                name = item[5:].strip('"')
            elif item.startswith("filename="):
                filename = item[9:].strip('"')
        parts.append({"name": name, "filename": filename, "size": len(data),
                      "sha256": hashlib.sha256(data).hexdigest()})
    return boundary, parts


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_POST(self):
        global active, peak
        with lock:
            active += 1
            peak = max(peak, active)
            now = active
        try:
            self.handle_post(now)
        finally:
            with lock:
                active -= 1

    def handle_post(self, now):
        options = self.server.options
        port = self.server.server_address[1]
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length)
        cookie = self.headers.get("cookie", "")
        if self.path == "/cgi-bin/CGI?login":
            fields = urllib.parse.parse_qs(body.decode("ascii", "replace"), keep_blank_values=True)
            report({"event": "login", "port": port, "body": body.decode("ascii", "replace"),
                    "username": fields.get("username", [""])[0], "password": fields.get("password", [""])[0],
                    "active": now})
            if options.stall_login:
                time.sleep(120)
                return
            answer = options.login_answer.encode()
            self.send_response(200)
            self.send_header("Content-Type", "application/json")
            self.send_header("Set-Cookie", "session=s%d; Path=/" % port)
            self.send_header("Content-Length", str(len(answer)))
            self.end_headers()
            self.wfile.write(answer)
            return
        if self.path == "/cgi-bin/upload":
            boundary, parts = parse_multipart(self.headers.get("Content-Type", ""), body)
            report({"event": "upload-start", "port": port, "active": now})
            if options.stall_upload:
                time.sleep(120)
                return
            time.sleep(options.upload_delay)
            report({"event": "upload", "port": port, "cookie": cookie, "boundary": boundary, "parts": parts,
                    "active": now, "peak": peak})
            answer = b'{"result":0}'
            self.send_response(200)
            self.send_header("Content-Length", str(len(answer)))
            self.end_headers()
            self.wfile.write(answer)
            return
        self.send_response(404)
        self.send_header("Content-Length", "0")
        self.end_headers()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--count", type=int, default=1)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--login-answer", default='{"result":0}')
    parser.add_argument("--stall-login", action="store_true")
    parser.add_argument("--stall-upload", action="store_true")
    parser.add_argument("--upload-delay", type=float, default=0.0)
    options = parser.parse_args()
    context = None
    if options.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(options.cert, options.key)
    servers = []
    for _ in range(options.count):
        server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        server.daemon_threads = True
        server.options = options
        if context:
            server.socket = context.wrap_socket(server.socket, server_side=True)
        servers.append(server)
        threading.Thread(target=server.serve_forever, daemon=True).start()
    report({"event": "ports", "ports": [s.server_address[1] for s in servers]})
    sys.stdin.read()   # ends with the test


if __name__ == "__main__":
    main()
