#!/usr/bin/env python3
"""A throw-away RFC 3161 time-stamp server on loopback for the signing check:
answers each time-stamp query POSTed to it with `openssl ts -reply` under the
given openssl configuration, and counts its answers in COUNT_FILE. Writes its
port to PORT_FILE once it listens; serves until it is stopped.
Usage: tsa_server.py OPENSSL_CONFIG PORT_FILE COUNT_FILE"""
import http.server
import os
import subprocess
import sys
import tempfile

config, port_file, count_file = sys.argv[1:4]
answered = 0


class handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        global answered
        query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        with tempfile.TemporaryDirectory() as work:
            query_path, reply_path = os.path.join(work, "query.tsq"), os.path.join(work, "reply.tsr")
            with open(query_path, "wb") as f:
                f.write(query)
            done = subprocess.run(["openssl", "ts", "-reply", "-config", config, "-queryfile", query_path,
                                   "-out", reply_path], capture_output=True)
            if done.returncode != 0:
                self.send_error(500, "openssl ts -reply failed")
                return
            with open(reply_path, "rb") as f:
                reply = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)
        answered += 1
        with open(count_file, "w") as f:
            f.write(str(answered))

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), handler)
with open(port_file + ".part", "w") as f:
    f.write(str(server.server_port))
os.replace(port_file + ".part", port_file)
server.serve_forever()
