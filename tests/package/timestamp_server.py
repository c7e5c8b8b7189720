#!/usr/bin/env python3
"""A local RFC 3161 time-stamp server for the package tests, on loopback only.

    timestamp_server.py PORT DIR

DIR holds the time-stamping authority's tsa.pem and tsa.key (made by the test) and receives the server's
log; each POSTed TimeStampReq is answered by `openssl ts -reply`. The server writes DIR/ready once it
listens and runs until killed.
"""
import http.server
import os
import subprocess
import sys
import tempfile

port, folder = int(sys.argv[1]), sys.argv[2]
config = os.path.join(folder, "tsa.cnf")
with open(config, "w") as f:
    f.write("""[tsa]
default_tsa = tsa_config
[tsa_config]
serial = %s
signer_cert = %s
signer_key = %s
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha1, sha256, sha384, sha512
accuracy = secs:1
ess_cert_id_chain = no
ess_cert_id_alg = sha256
""" % (os.path.join(folder, "tsa.serial"), os.path.join(folder, "tsa.pem"), os.path.join(folder, "tsa.key")))
with open(os.path.join(folder, "tsa.serial"), "w") as f:
    f.write("01\n")


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        with tempfile.TemporaryDirectory() as tmp:
            query, reply = os.path.join(tmp, "q.tsq"), os.path.join(tmp, "r.tsr")
            with open(query, "wb") as f:
                f.write(body)
            done = subprocess.run(["openssl", "ts", "-reply", "-config", config, "-queryfile", query,
                                   "-out", reply], capture_output=True)
            answer = open(reply, "rb").read() if done.returncode == 0 else b""
        with open(os.path.join(folder, "timestamp.log"), "a") as log:
            log.write("POST %s %d bytes -> %s\n" % (self.path, len(body), "reply" if answer else "error"))
        self.send_response(200 if answer else 500)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(answer)))
        self.end_headers()
        self.wfile.write(answer)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", port), Handler)
open(os.path.join(folder, "ready"), "w").close()
server.serve_forever()
