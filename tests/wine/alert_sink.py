#!/usr/bin/env python3
"""A webhook receiver and an SMTP sink for one test, on loopback.

    alert_sink.py HTTP-PORT SMTP-PORT FOLDER

Each webhook POST's body is appended to FOLDER/webhooks (one per line, the
body being one line of JSON), each mail's data to FOLDER/mails followed by
a line "-- end". Runs until killed.
"""
import http.server
import socketserver
import sys
import threading

http_port, smtp_port, folder = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]


class Hook(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        with open(folder + "/webhooks", "ab") as out:
            out.write(body + b"\n")
        self.send_response(200)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def log_message(self, *args):
        pass


class Smtp(socketserver.StreamRequestHandler):
    def handle(self):
        self.wfile.write(b"220 sink ESMTP\r\n")
        while True:
            line = self.rfile.readline()
            if not line:
                return
            verb = line.strip().upper()
            if verb.startswith(b"EHLO") or verb.startswith(b"HELO"):
                self.wfile.write(b"250 sink\r\n")
            elif verb == b"DATA":
                self.wfile.write(b"354 go on\r\n")
                mail = b""
                for data in iter(self.rfile.readline, b""):
                    if data == b".\r\n":
                        break
                    mail += data
                with open(folder + "/mails", "ab") as out:
                    out.write(mail + b"-- end\n")
                self.wfile.write(b"250 kept\r\n")
            elif verb == b"QUIT":
                self.wfile.write(b"221 bye\r\n")
                return
            else:
                self.wfile.write(b"250 ok\r\n")


socketserver.ThreadingTCPServer.allow_reuse_address = True
smtp = socketserver.ThreadingTCPServer(("127.0.0.1", smtp_port), Smtp)
threading.Thread(target=smtp.serve_forever, daemon=True).start()
http.server.ThreadingHTTPServer(("127.0.0.1", http_port), Hook).serve_forever()
