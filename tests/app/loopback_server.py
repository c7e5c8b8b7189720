#!/usr/bin/env python3
"""Loopback stand-in for the connectivity probe and the product's service, for the program's end-to-end tests.

    loopback_server.py start PORT DIR [ANSWER]   serves on 127.0.0.1:PORT in the background; pid in DIR/loopback.pid
    loopback_server.py stop DIR                  ends that server

/generate_204 answers 204; /api.init.php answers ANSWER, by default an empty JSON object (nothing for
this user); every request line is appended to DIR/loopback.log (a request carrying "User-Command" gets
" command " and its User-* headers as Name=value, in the order received, after the path).

POST /except.php stands in for the crash report endpoint: each report's body is saved as DIR/reports/N.txt
(N counting from 1) and answered 200; its log line is "/except.php". With DIR/report_mode holding "drop"
the connection is closed without an answer and nothing is saved (log line "/except.php dropped"), as if
the endpoint were down; with "hang" the report is taken (log line "/except.php held") and never answered,
the connection held open, as an endpoint that accepts and then stalls; with "redirect" it answers 307 to
http://localhost:PORT/except.php?moved (log line "/except.php redirected"), where a report that followed
would be saved as usual.

A test can change the answers while the server runs, through files in DIR read at each request:
    DIR/service_answer   when present, its bytes are the body of /api.init.php
    DIR/probe_mode       "answer" (the default): 204 at once; "drop": the connection is closed without an
                         answer (the log line ends in " dropped"); "slow SECONDS": 204 after that long
    DIR/service_mode     "slow SECONDS": /api.init.php answers after that long (its log line comes at once)
"""
import http.server
import os
import signal
import socketserver
import sys
import threading
import time


def read_control(folder, name):
    try:
        with open(os.path.join(folder, name), "rb") as f:
            return f.read()
    except OSError:
        return None


def serve(port, folder, answer):
    log_path = os.path.join(folder, "loopback.log")
    report_lock = threading.Lock()

    class Handler(http.server.BaseHTTPRequestHandler):
        def log(self, line):
            with open(log_path, "a", encoding="utf-8") as log:
                log.write(line + "\n")

        def do_GET(self):
            if self.path.startswith("/generate_204"):
                mode = (read_control(folder, "probe_mode") or b"answer").decode("ascii", "replace").split()
                if mode and mode[0] == "drop":
                    self.log(self.path + " dropped")
                    self.close_connection = True
                    return
                self.log(self.path)
                if mode and mode[0] == "slow" and len(mode) > 1:
                    time.sleep(float(mode[1]))
                self.send_response(204)
                self.end_headers()
                return
            command = self.headers.get("User-Command")
            if command is None:
                self.log(self.path)
            else:  # a command to the service: its custom headers in the order received, with their values
                custom = ["%s=%s" % (k, v) for k, v in self.headers.items()
                          if k.startswith("User-") and k != "User-Agent"]
                self.log(self.path + " command " + " ".join(custom))
            known = self.path.startswith("/api.init.php")
            service_mode = (read_control(folder, "service_mode") or b"").decode("ascii", "replace").split()
            if known and len(service_mode) > 1 and service_mode[0] == "slow":
                time.sleep(float(service_mode[1]))
            body = answer if known else b"not here"
            if known:
                replaced = read_control(folder, "service_answer")
                if replaced is not None:
                    body = replaced
            self.send_response(200 if known else 404)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def do_POST(self):
            if not self.path.startswith("/except.php"):
                self.log(self.path + " POST")
                self.send_response(404)
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            handle_report(self)

        def log_message(self, *args):
            pass

    def handle_report(handler):
        length = int(handler.headers.get("Content-Length") or 0)
        body = handler.rfile.read(length) if length > 0 else b""
        mode = (read_control(folder, "report_mode") or b"").decode("ascii", "replace").split()
        if mode and mode[0] == "drop":
            handler.log("/except.php dropped")
            handler.close_connection = True
            return
        if mode and mode[0] == "redirect" and "moved" not in handler.path:
            # To another host: this same server under another name, where a report that followed would
            # land (and be saved) as /except.php?moved.
            handler.log("/except.php redirected")
            handler.send_response(307)
            handler.send_header("Location", "http://localhost:%d/except.php?moved" % port)
            handler.send_header("Content-Length", "0")
            handler.end_headers()
            return
        if mode and mode[0] == "hang":
            handler.log("/except.php held")
            time.sleep(120)
            handler.close_connection = True
            return
        reports = os.path.join(folder, "reports")
        os.makedirs(reports, exist_ok=True)
        with report_lock:  # written beside and renamed, so a test never reads half a report
            number = len([name for name in os.listdir(reports) if name.endswith(".txt")]) + 1
            path = os.path.join(reports, "%d.txt" % number)
            with open(path + ".part", "wb") as f:
                f.write(body)
            os.replace(path + ".part", path)
        handler.log("/except.php")
        handler.send_response(200)
        handler.send_header("Content-Length", "2")
        handler.end_headers()
        handler.wfile.write(b"OK")

    socketserver.ThreadingTCPServer.allow_reuse_address = True
    with socketserver.ThreadingTCPServer(("127.0.0.1", port), Handler) as server:
        server.serve_forever()


def main():
    command = sys.argv[1]
    if command == "start":
        port, folder = int(sys.argv[2]), sys.argv[3]
        answer = (sys.argv[4] if len(sys.argv) > 4 else "{}").encode("utf-8")
        os.makedirs(folder, exist_ok=True)
        pid = os.fork()
        if pid == 0:
            os.setsid()
            devnull = os.open(os.devnull, os.O_RDWR)
            for fd in (0, 1, 2):
                os.dup2(devnull, fd)
            serve(port, folder, answer)
            os._exit(0)
        with open(os.path.join(folder, "loopback.pid"), "w") as f:
            f.write(str(pid))
        time.sleep(0.5)
        os.kill(pid, 0)  # still alive: the port was free
    elif command == "stop":
        folder = sys.argv[2]
        try:
            with open(os.path.join(folder, "loopback.pid")) as f:
                os.kill(int(f.read()), signal.SIGTERM)
        except (OSError, ValueError):
            pass
    else:
        sys.exit("usage: loopback_server.py start PORT DIR | stop DIR")


if __name__ == "__main__":
    main()
