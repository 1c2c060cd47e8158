#!/usr/bin/env python3
"""Plain-HTTP test server for the Windows HTTP channel: /echo answers the request body,
/basic and /digest require user "qvpa" with password "secret" (Basic, or Digest with MD5
and qop=auth). Prints its port on the first line of standard output."""
import base64
import hashlib
import http.server
import re
import sys

USER, PASSWORD, REALM, NONCE = "qvpa", "secret", "qvpa-test", "7c1f0e5b9a3d4e21"


def md5(text):
    return hashlib.md5(text.encode()).hexdigest()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, status, body=b"", headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def digest_ok(self, authorization):
        fields = dict(re.findall(r'(\w+)="?([^",]*)"?', authorization[len("Digest "):]))
        if fields.get("username") != USER or fields.get("nonce") != NONCE:
            return False
        ha1 = md5(f"{USER}:{REALM}:{PASSWORD}")
        ha2 = md5(f"{self.command}:{fields.get('uri', '')}")
        expected = md5(f"{ha1}:{NONCE}:{fields.get('nc', '')}:{fields.get('cnonce', '')}:"
                       f"{fields.get('qop', '')}:{ha2}")
        return fields.get("response") == expected

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        authorization = self.headers.get("Authorization", "")
        if self.path == "/echo":
            self.answer(200, body)
        elif self.path == "/basic":
            good = "Basic " + base64.b64encode(f"{USER}:{PASSWORD}".encode()).decode()
            if authorization == good:
                self.answer(200, b"basic:" + body)
            else:
                self.answer(401, b"", [("WWW-Authenticate", f'Basic realm="{REALM}"')])
        elif self.path == "/digest":
            if authorization.startswith("Digest ") and self.digest_ok(authorization):
                self.answer(200, b"digest:" + body)
            else:
                challenge = f'Digest realm="{REALM}", nonce="{NONCE}", qop="auth", algorithm=MD5'
                self.answer(401, b"", [("WWW-Authenticate", challenge)])
        else:
            self.answer(404)


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
