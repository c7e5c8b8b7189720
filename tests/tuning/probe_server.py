#!/usr/bin/env python3
"""Loopback HTTP server for the connectivity probe tests.

  probe_server.py start STATE   starts the server in the background, returns once it listens
  probe_server.py stop STATE    ends the server recorded in STATE
  probe_server.py serve STATE   runs the server in the foreground (what start launches)

Paths: /status/NNN answers with status NNN and no body; /silent accepts the request and never answers.
STATE holds "port N" (the server), "closed N" (a port held bound but not listening, so connections
to it are refused) and "pid N". Everything listens on 127.0.0.1 only.
"""
import http.server
import os
import signal
import socket
import subprocess
import sys
import time


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        if self.path == "/silent":
            time.sleep(120)  # holds the connection open without a word; the process ends first
            return
        parts = self.path.split("/")
        if len(parts) == 3 and parts[1] == "status" and parts[2].isdigit():
            self.send_response(int(parts[2]))
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        self.send_response(400)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def log_message(self, *args):
        pass


def serve(state):
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    closed = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    closed.bind(("127.0.0.1", 0))  # bound, never listening: connections are refused
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    tmp = state + ".tmp"
    with open(tmp, "w") as f:
        f.write("port %d\nclosed %d\npid %d\n" % (server.server_address[1], closed.getsockname()[1], os.getpid()))
    os.replace(tmp, state)
    server.serve_forever()


def read_pid(state):
    try:
        with open(state) as f:
            for line in f:
                key, _, value = line.partition(" ")
                if key == "pid":
                    return int(value)
    except (OSError, ValueError):
        pass
    return None


def is_ours(pid):
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            return b"probe_server.py" in f.read()
    except OSError:
        return False


def stop(state):
    pid = read_pid(state)
    if pid and is_ours(pid):
        os.kill(pid, signal.SIGTERM)
        for _ in range(100):
            if not is_ours(pid):
                break
            time.sleep(0.05)
    for path in (state, state + ".tmp"):
        try:
            os.remove(path)
        except OSError:
            pass
    return 0


def start(state):
    stop(state)  # a server left over from an interrupted run
    child = subprocess.Popen([sys.executable, os.path.abspath(__file__), "serve", state],
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                             start_new_session=True)
    for _ in range(200):
        if os.path.exists(state):
            print("probe server pid %d, state %s" % (child.pid, state))
            return 0
        if child.poll() is not None:
            break
        time.sleep(0.05)
    child.kill()
    print("probe server did not start", file=sys.stderr)
    return 1


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("start", "stop", "serve"):
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    command, state_file = sys.argv[1], os.path.abspath(sys.argv[2])
    if command == "serve":
        serve(state_file)
    else:
        sys.exit(start(state_file) if command == "start" else stop(state_file))
