#!/usr/bin/env python3
"""The calculation server's protocol, spoken by a client written here from the published frame
layout, against the real program started with "/server" under Wine on 127.0.0.1.

Usage: server_protocol.py WINE_RUN PROGRAM MAJOR MINOR

The server is configured (registry) to listen on 127.0.0.1 only, on a free port, with an address
filter that admits 127.0.0.1 alone and a password. The script checks admission (major version,
protocol number, the filter refusing 127.0.0.2), the password challenge (the response computed
with hashlib), keep-alive before login, the parameter request (failure 7, then the text, then
cache hits), and a calculation followed by a status with data. It stops the server itself and
ends within a bounded time.
"""
import hashlib
import os
import socket
import struct
import subprocess
import sys
import tempfile
import time
import zlib

PASSWORD = "proto-pw"
DEADLINE = 240  # seconds for the whole run, start of Wine included


def frame(tag, body=b""):
    return tag.encode("ascii") + struct.pack("<I", 8 + len(body)) + body


class Client:
    def __init__(self, port, source="127.0.0.1"):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.settimeout(60)
        self.sock.bind((source, 0))
        self.sock.connect(("127.0.0.1", port))

    def read_exact(self, count):
        data = b""
        while len(data) < count:
            part = self.sock.recv(count - len(data))
            if not part:
                raise ConnectionError("closed by the server")
            data += part
        return data

    def read(self):
        header = self.read_exact(8)
        tag = header[:4].decode("ascii", "replace")
        length = struct.unpack("<I", header[4:])[0]
        assert 8 <= length <= 64 << 20, f"frame length {length}"
        return tag, self.read_exact(length - 8)

    def ask(self, tag, body=b""):
        """Sends a frame and returns the reply's classification: 0 GOOD, the FAIL code, or the
        tag of any other frame."""
        self.sock.sendall(frame(tag, body))
        reply, payload = self.read_non_call()
        if reply == "GOOD":
            assert not payload
            return 0
        if reply == "FAIL":
            return struct.unpack("<I", payload)[0]
        return reply

    def read_non_call(self):
        while True:
            tag, payload = self.read()
            if tag != "CALL":
                return tag, payload

    def closed(self):
        try:
            self.sock.settimeout(30)
            return self.sock.recv(1) == b""
        except ConnectionResetError:
            return True

    def close(self):
        self.sock.close()


def connect_body(major, protocol=5, tag=b"OBCLIENT"):
    return tag + struct.pack("<II", major, protocol)


def parameters_body(text, rect, cached, length=None, crc=None):
    data = text.encode("latin-1")
    body = struct.pack("<ii4iIII", 0, 0, *rect, 1 if cached else 0,
                       len(data) if length is None else length,
                       zlib.crc32(data) if crc is None else crc)
    if not cached:
        body += zlib.compress(data)
    return body


def network_block(width, height):
    return ("parameters {\r\nnetwork:\r\n"
            f"  virtualwidth={width} virtualheight={height} width={width} height={height}\r\n"
            "  method=linear format=index aa_enabled=no precision=double decimals=0\r\n"
            "  resumable=no opaque=no\r\n}\r\n")


def free_port():
    probe = socket.socket()
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
    probe.close()
    return port


def write_registry(path, major, minor, port):
    key = f"HKEY_CURRENT_USER\\Software\\Orbisk Vantel\\{major}.{minor}\\Server"
    values = {
        "Port": f"dword:{port:08x}",
        "ListenAddress": '"127.0.0.1"',
        "FilterEnabled": "dword:00000001",
        "FilterCount": "dword:00000001",
        "FilterFrom0": '"127.0.0.1"',
        "FilterTo0": '"127.0.0.1"',
        "PasswordRequired": "dword:00000001",
        "Password": f'"{PASSWORD}"',
        "LogEnabled": "dword:00000000",
    }
    with open(path, "w", newline="\r\n") as out:
        out.write("REGEDIT4\n\n[" + key + "]\n")
        for name, value in values.items():
            out.write(f'"{name}"={value}\n')


def wait_for_port(port, server, deadline):
    while time.time() < deadline:
        if server.poll() is not None:
            raise SystemExit(f"the server ended early with {server.returncode}")
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=2):
                return
        except OSError:
            time.sleep(0.5)
    raise SystemExit("the server never listened")


def check(condition, text):
    if not condition:
        raise AssertionError(text)
    print("ok  ", text)


def run_checks(port, major):
    # Keep-alive is answered before login; the version and protocol are checked.
    client = Client(port)
    check(client.ask("KEEP") == 0, "KEEP before login answers GOOD")
    check(client.ask("CONN", connect_body(major + 1)) == 2, "a newer major version gets FAIL 2")
    check(client.ask("CONN", connect_body(major, 4)) == 2, "protocol 4 gets FAIL 2")
    check(client.ask("CONN", connect_body(major, 5, b"OBSERVER")) == 2, "another client tag gets FAIL 2")
    client.close()

    # The filter admits 127.0.0.1 only.
    stranger = Client(port, "127.0.0.2")
    check(stranger.ask("CONN", connect_body(major)) == 3, "127.0.0.2 is refused by the address filter")
    stranger.close()

    # A wrong response to the challenge: FAIL 4 and the connection closes.
    wrong = Client(port)
    wrong.sock.sendall(frame("CONN", connect_body(major)))
    tag, challenge = wrong.read()
    check(tag == "RQAU" and len(challenge) == 16, "the password challenge comes as RQAU with 16 bytes")
    check(wrong.ask("AUTH", hashlib.md5(challenge).digest()) == 4, "a wrong response gets FAIL 4")
    check(wrong.closed(), "the server closes after a wrong password")

    # The right response: MD5 of the challenge XOR the password repeated over 16 bytes.
    client = Client(port)
    client.sock.sendall(frame("CONN", connect_body(major - 1 if major > 0 else major)))
    tag, challenge = client.read()
    check(tag == "RQAU", "an older major version is admitted to the challenge")
    second = Client(port)
    second.sock.sendall(frame("CONN", connect_body(major)))
    tag2, challenge2 = second.read()
    check(challenge != challenge2, "two challenges differ")
    second.close()
    key = PASSWORD.encode("latin-1")
    response = hashlib.md5(bytes(b ^ key[i % len(key)] for i, b in enumerate(challenge))).digest()
    check(client.ask("AUTH", response) == 0, "the right response gets GOOD")
    check(client.ask("KEEP") == 0, "KEEP after login answers GOOD")
    check(client.ask("STOP") == 1, "STOP while idle gets FAIL 1")

    # Parameters: not cached, then sent, then taken from the cache.
    text = network_block(48, 32)
    check(client.ask("PARM", parameters_body(text, (0, 0, 48, 32), True)) == 7, "an unknown text gets FAIL 7")
    check(client.ask("PARM", parameters_body(text, (0, 0, 48, 32), False)) == 0, "the text itself gets GOOD")
    check(client.ask("PARM", parameters_body(text, (0, 0, 24, 32), True)) == 0, "the text is then a cache hit")
    check(client.ask("PARM", parameters_body(text, (0, 0, 24, 32), True, length=len(text) + 1)) == 7,
          "the same checksum with another length is no hit")
    check(client.ask("PARM", parameters_body(text, (0, 0, 48, 32), False, crc=zlib.crc32(b"x"))) == 5,
          "a text whose checksum is wrong is refused")
    check(client.ask("PARM", parameters_body(text, (0, 0, 48, 40), True)) == 5,
          "a region outside the image is refused")

    # A calculation, then the status with data.
    check(client.ask("PARM", parameters_body(text, (8, 4, 40, 28), True)) == 0, "the piece's parameters")
    check(client.ask("CALC") == 0, "CALC starts the calculation")
    deadline = time.time() + 120
    while True:
        client.sock.sendall(frame("RQST", struct.pack("<I", 0xFFFFFFFF)))
        tag, payload = client.read_non_call()
        assert tag == "STAT", f"RQST answered with {tag}"
        progress, whole, thousandths, done, size = struct.unpack("<5I", payload[:20])
        if done:
            break
        assert time.time() < deadline, "the piece never finished"
        time.sleep(0.25)
    check(progress == 1000, "the finished piece reports progress 1000")
    check(size == len(payload) - 20 and size > 0, "the final status carries data")
    data = zlib.decompress(payload[20:20 + size])
    pixels = 32 * 24
    check(len(data) == 33 + 1056 + 2 * pixels, "piece record, statistics and 2-byte codes of the piece")
    version, left, top, right, bottom, state = struct.unpack("<5iB", data[:21])
    check((left, top, right, bottom) == (8, 4, 40, 28) and state == 3, "the piece record: its rectangle, done")
    client.close()


def main():
    wine_run, program, major, minor = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    deadline = time.time() + DEADLINE
    env = dict(os.environ, OV_WINE_NAME="ServerProtocol")
    # wine-run then uses the build's own X server.
    env.pop("DISPLAY", None)
    port = free_port()
    with tempfile.TemporaryDirectory() as folder:
        reg = os.path.join(folder, "server.reg")
        write_registry(reg, major, minor, port)
        subprocess.run([wine_run, "reg", "import", "Z:" + reg.replace("/", "\\")], env=env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=DEADLINE)
        server = subprocess.Popen([wine_run, program, "/server"], env=env, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL, start_new_session=True)
        try:
            wait_for_port(port, server, deadline)
            run_checks(port, major)
        finally:
            # The whole process group: wine-run, Wine's loader and the program.
            try:
                os.killpg(server.pid, 15)
            except ProcessLookupError:
                pass
            try:
                server.wait(timeout=30)
            except subprocess.TimeoutExpired:
                os.killpg(server.pid, 9)
    print("all checks passed")


if __name__ == "__main__":
    main()
