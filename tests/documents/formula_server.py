#!/usr/bin/env python3
"""A formula database server for the download tests, on 127.0.0.1 only.

Usage: formula_server.py COMMAND...   (the test program and its arguments, run under it)

Builds the served archives with Python's zipfile, writes each member's bytes also as a plain file
(the tests compare installed files with these), serves everything with http.server, runs COMMAND
with OV_FORMULA_SERVER (the server's base address) and OV_FORMULA_FILES (the Windows path of the
files) set, then stops the server. Every handler ends by itself within a minute.

Routes, each below one base address that a test chooses as its server:
  /ok/formuladb-v3.txt      four addresses between blank lines and blanks
  /short/formuladb-v3.txt   three addresses and empty lines
  /missing/formuladb-v3.txt 404
  /err/formuladb-v3.txt     four addresses, the fourth /err/%S: the single file picks the fault
  /files/<name>             the archives and /files/single/<name> the single files
  /err/nothere.zip 404, truncated.zip (announces 5000 bytes, sends 1000), trickle.zip (one byte
  every 100 ms), stall.zip (headers, then silence), big.zip (announces 5 MB), nolength.zip (2 MB
  without a length)
"""
import http.server
import os
import subprocess
import sys
import tempfile
import threading
import time
import zipfile

BOUND = 60  # seconds any slow handler goes on at most

KINDS = {
    "full": {"full-a.ufm": b"full collection A\r\n" * 50, "sub/full-b.ucl": b"coloring B\r\n" * 20},
    "monthly": {"monthly.ufm": b"monthly update\r\n" * 10},
    "weekly": {"weekly-a.ufm": b"weekly A\r\n" * 30, "weekly-b.ufm": bytes(range(256)) * 4},
}
SINGLE = {"one.ufm": b"single file content\r\n" * 7}


def build(folder):
    os.makedirs(os.path.join(folder, "single"))
    os.makedirs(os.path.join(folder, "expected"))
    for kind, members in KINDS.items():
        with zipfile.ZipFile(os.path.join(folder, kind + ".zip"), "w", zipfile.ZIP_DEFLATED) as zf:
            for name, data in members.items():
                zf.writestr(zipfile.ZipInfo(name, date_time=(2022, 2, 3, 4, 5, 6)), data, zipfile.ZIP_DEFLATED)
                with open(os.path.join(folder, "expected", name.split("/")[-1]), "wb") as f:
                    f.write(data)
    for name, data in SINGLE.items():
        with open(os.path.join(folder, "single", name), "wb") as f:
            f.write(data)
        with open(os.path.join(folder, "expected", name), "wb") as f:
            f.write(data)


def make_handler(folder, base):
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.0"

        def log_message(self, *args):
            pass

        def send_body(self, data, length=None):
            self.send_response(200)
            self.send_header("Content-Length", str(len(data) if length is None else length))
            self.end_headers()
            self.wfile.write(data)

        def do_GET(self):
            path = self.path
            try:
                if path == "/ok/formuladb-v3.txt":
                    self.send_body(("\r\n  %s/files/full.zip  \r\n\r\n%s/files/monthly.zip\n\t%s/files/weekly.zip\n\n\n"
                                    "%s/files/single/%%s\r\n\r\n" % (base, base, base, base)).encode())
                elif path == "/short/formuladb-v3.txt":
                    self.send_body(("\r\n%s/files/full.zip\r\n\r\n  \r\n%s/files/monthly.zip\r\n%s/files/weekly.zip"
                                    "\r\n\r\n\r\n" % (base, base, base)).encode())
                elif path == "/err/formuladb-v3.txt":
                    self.send_body(("%s/a\n%s/b\n%s/c\n%s/err/%%S\n" % (base, base, base, base)).encode())
                elif path.startswith("/files/") and ".." not in path:
                    name = os.path.join(folder, *path[len("/files/"):].split("/"))
                    if os.path.isfile(name):
                        self.send_body(open(name, "rb").read())
                    else:
                        self.send_error(404)
                elif path == "/err/truncated.zip":
                    self.send_body(b"x" * 1000, length=5000)
                elif path == "/err/trickle.zip":
                    self.send_response(200)
                    self.send_header("Content-Length", "100000")
                    self.end_headers()
                    end = time.time() + BOUND
                    while time.time() < end:
                        self.wfile.write(b"t")
                        self.wfile.flush()
                        time.sleep(0.1)
                elif path == "/err/stall.zip":
                    self.send_response(200)
                    self.send_header("Content-Length", "1000")
                    self.end_headers()
                    self.wfile.flush()
                    self.connection.settimeout(BOUND)
                    try:
                        self.connection.recv(1)  # returns when the client goes
                    except OSError:
                        pass
                elif path == "/err/big.zip":
                    self.send_body(b"b" * 5000000)
                elif path == "/err/nolength.zip":
                    self.send_response(200)
                    self.end_headers()
                    for _ in range(20):
                        self.wfile.write(b"n" * 100000)
                else:
                    self.send_error(404)
            except (BrokenPipeError, ConnectionResetError):
                pass

    return Handler


def main():
    folder = tempfile.mkdtemp(prefix="ov-formula-server-")
    build(folder)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), None)
    base = "http://127.0.0.1:%d" % server.server_address[1]
    server.RequestHandlerClass = make_handler(folder, base)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    env = dict(os.environ)
    env["OV_FORMULA_SERVER"] = base
    env["OV_FORMULA_FILES"] = "Z:" + folder.replace("/", "\\") + "\\"
    try:
        result = subprocess.run(sys.argv[1:], env=env, timeout=1200).returncode
    finally:
        server.shutdown()
    return result


if __name__ == "__main__":
    sys.exit(main())
