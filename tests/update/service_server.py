#!/usr/bin/env python3
"""Loopback stand-in for the product's service, for the update tests.

    service_server.py start BUILD   serves on 127.0.0.1 in the background; writes BUILD/update_service.port
                                    ("<port> <closed port>") and BUILD/update_service.pid
    service_server.py stop BUILD    ends the process recorded in BUILD/update_service.pid

Every request except /__log is recorded with its headers in the order received; GET /__log answers the
record as text: one block per request, "GET <path>" then "<Name>: <value>" lines, blocks ended by a blank
line. The answer depends on the path (the query string only tags a request for the test that sent it).
The scenarios /api/silent (never answers), /api/silent-body (headers, then silence) and /api/drip (a byte a
second) keep their connection for HOLD_SECONDS; /api/loop redirects to itself for ever.
/api/truncated announces a body longer than it sends and closes the connection. POST /api/post-elsewhere redirects (307) to another host name
of this server, POST /api/post-same to another path of it; both land on /api/post-landed.
The closed port is bound but never listens, so a connection to it is refused: the "no listener" case.
"""
import http.server
import os
import signal
import socket
import subprocess
import sys
import threading
import time

BIG = 1 << 20
HOLD_SECONDS = 30  # how long the misbehaving scenarios keep a connection without finishing

ANSWERS = {
    "/api/update-notify": (200, "application/json",
        '{"update":"https:\\/\\/dl.tarnell.example\\/setup.exe","notify":"https://news.tarnell.example/n",'
        '"info":{"style":"hold","text":"Remind me later","flag":"stayontop"}}'),
    "/api/notify-only": (200, "application/json", '{"update":"","notify":"https://news.tarnell.example/only"}'),
    "/api/empty-update-info": (200, "application/json",
        '{"update":"","info":{"style":"note","text":"Read me","url":"https://news.tarnell.example/x"}}'),
    "/api/unsafe-links": (200, "application/json",
        '{"update":"file:///C:/Windows/System32/calc.exe","notify":"\\\\\\\\server\\\\share\\\\x.exe"}'),
    "/api/missing": (404, "text/html", "<html><head><title>404 Not Found</title></head>"
                                       "<body><h1>Not Found</h1></body></html>"),
    "/api/charset": (200, "text/plain; charset=iso-8859-1", '{"notify":"https://x.example/\u00e9\u0434\ud0c0"}'),
}


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "TarnellFixture/1"
    record = []
    lock = threading.Lock()

    def log_message(self, *args):
        pass

    def answer(self, status, content_type, body, extra=()):
        data = body if isinstance(body, bytes) else body.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(data)

    def do_GET(self):
        path = self.path.split("?", 1)[0]
        if path == "/__log":
            with Handler.lock:
                text = "".join(Handler.record)
            return self.answer(200, "text/plain; charset=utf-8", text)
        block = "GET %s\n" % self.path + "".join("%s: %s\n" % (k, v) for k, v in self.headers.items()) + "\n"
        with Handler.lock:
            Handler.record.append(block)
        if path in ANSWERS:
            return self.answer(*ANSWERS[path])
        if path in ("/api/big", "/api/exact"):
            size = BIG + 1 if path == "/api/big" else BIG
            return self.answer(200, "application/octet-stream", b"x" * size)
        if path == "/api/silent":  # accepts, reads the request, never answers
            time.sleep(HOLD_SECONDS)
            return
        if path in ("/api/silent-body", "/api/drip"):  # headers, then nothing or a byte now and then
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", "1000")
            self.end_headers()
            self.wfile.flush()
            end = time.monotonic() + HOLD_SECONDS
            while time.monotonic() < end:
                time.sleep(1.0)
                if path == "/api/drip":
                    try:
                        self.wfile.write(b"x")
                        self.wfile.flush()
                    except OSError:
                        return
            return
        if path == "/api/truncated":  # announces 5,000 bytes, sends 36, closes
            self.send_response(200)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", "5000")
            self.end_headers()
            self.wfile.write(b'{"update":"https://dl.example/x.exe"')
            self.wfile.flush()
            self.close_connection = True
            return
        if path == "/api/loop":
            query = "?" + self.path.split("?", 1)[1] if "?" in self.path else ""
            return self.answer(302, "text/plain", "", [("Location", "/api/loop" + query)])
        if path.startswith("/api/redirect/"):
            left = int(path.rsplit("/", 1)[1])
            if left == 0:
                return self.answer(200, "text/plain", "landed")
            query = "?" + self.path.split("?", 1)[1] if "?" in self.path else ""
            return self.answer(302, "text/plain", "", [("Location", "/api/redirect/%d%s" % (left - 1, query))])
        return self.answer(404, "text/html", "<html><body>no such scenario</body></html>")


    def do_POST(self):
        # A posted report: recorded like a GET, with the method and the body's length, and taken.
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length > 0 else b""
        block = "POST %s\n" % self.path + "".join("%s: %s\n" % (k, v) for k, v in self.headers.items())
        block += "Body-Length: %d\n\n" % len(body)
        with Handler.lock:
            Handler.record.append(block)
        path = self.path.split("?", 1)[0]
        query = "?" + self.path.split("?", 1)[1] if "?" in self.path else ""
        # A 307 keeps the method and body: to another host (the same server by another name) or to
        # another path of this one.
        if path == "/api/post-elsewhere":
            where = "http://localhost:%d/api/post-landed%s" % (self.server.server_address[1], query)
            return self.answer(307, "text/plain", "", [("Location", where)])
        if path == "/api/post-same":
            return self.answer(307, "text/plain", "", [("Location", "/api/post-landed" + query)])
        return self.answer(200, "text/plain", "OK")


def serve(build):
    closed = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    closed.bind(("127.0.0.1", 0))  # bound, never listening: connections are refused
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    port_file = os.path.join(build, "update_service.port")
    with open(port_file + ".tmp", "w") as f:
        f.write("%d %d\n" % (server.server_address[1], closed.getsockname()[1]))
    os.replace(port_file + ".tmp", port_file)
    signal.signal(signal.SIGTERM, lambda *a: sys.exit(0))
    server.serve_forever()


def start(build):
    stop(build)
    port_file = os.path.join(build, "update_service.port")
    if os.path.exists(port_file):
        os.remove(port_file)
    child = subprocess.Popen([sys.executable, os.path.abspath(__file__), "serve", build],
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                             start_new_session=True)
    with open(os.path.join(build, "update_service.pid"), "w") as f:
        f.write("%d\n" % child.pid)
    for _ in range(200):
        if os.path.exists(port_file):
            return 0
        if child.poll() is not None:
            break
        time.sleep(0.05)
    print("fixture service did not start", file=sys.stderr)
    return 1


def stop(build):
    pid_file = os.path.join(build, "update_service.pid")
    try:
        with open(pid_file) as f:
            pid = int(f.read().strip())
    except (OSError, ValueError):
        return 0
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        pass
    os.remove(pid_file)
    try:
        os.remove(os.path.join(build, "update_service.port"))
    except OSError:
        pass
    return 0


if __name__ == "__main__":
    command, build = sys.argv[1], os.path.abspath(sys.argv[2])
    if command == "serve":
        serve(build)
    else:
        sys.exit({"start": start, "stop": stop}[command](build))
