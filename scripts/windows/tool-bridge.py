#!/usr/bin/env python3
"""Runs the build machine's command-line tools for test executables under Wine.

A Windows process under Wine can start a Linux program but cannot wait for it or
read its output, so the tests' fixture makers and checkers (ImageMagick, avifdec, ffmpeg,
espeak-ng, sqlite3) ask this bridge instead: one JSON line per connection
({"program", "args", "timeout_ms"}), answered with one JSON line
({"ran", "code", "out", "err"}, outputs in base64). Windows paths in the
arguments (C:\\..., Z:/...) become the paths Wine maps them to.
Usage: tool-bridge.py WINEPREFIX PORTFILE  (writes the port it listens on)
"""
import base64
import json
import os
import re
import socketserver
import subprocess
import sys

PREFIX = sys.argv[1]
ALLOWED = {"convert", "identify", "compare", "magick", "convert-im6.q16", "identify-im6.q16",
           "ffmpeg", "ffprobe", "espeak-ng", "sqlite3", "sox", "avifdec"}
DRIVE = re.compile(r"(?<![A-Za-z])([A-Za-z]):[\\/]")


def unix_path_of_drive(letter):
    return os.path.realpath(os.path.join(PREFIX, "dosdevices", letter.lower() + ":"))


def translate(arg):
    match = DRIVE.search(arg)
    if not match:
        return arg
    root = unix_path_of_drive(match.group(1))
    rest = arg[match.end():].replace("\\", "/")
    return arg[:match.start()] + root.rstrip("/") + "/" + rest


class Handler(socketserver.StreamRequestHandler):
    def handle(self):
        reply = {"ran": False, "code": -1, "out": "", "err": ""}
        try:
            request = json.loads(self.rfile.readline())
            program = os.path.basename(request["program"].replace("\\", "/"))
            if program.lower().endswith(".exe"):
                program = program[:-4]
            if program not in ALLOWED:
                raise ValueError("not a tool the tests use: " + program)
            args = [translate(a) for a in request["args"]]
            done = subprocess.run([program] + args, stdin=subprocess.DEVNULL, capture_output=True,
                                  timeout=request.get("timeout_ms", 120000) / 1000.0)
            reply = {"ran": True, "code": done.returncode,
                     "out": base64.b64encode(done.stdout).decode(),
                     "err": base64.b64encode(done.stderr).decode()}
        except Exception as error:  # the test sees a failed run with the reason
            reply["err"] = base64.b64encode(str(error).encode()).decode()
        self.wfile.write(json.dumps(reply).encode() + b"\n")


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


if __name__ == "__main__":
    with Server(("127.0.0.1", 0), Handler) as server:
        with open(sys.argv[2] + ".tmp", "w") as f:
            f.write(str(server.server_address[1]))
        os.rename(sys.argv[2] + ".tmp", sys.argv[2])
        server.serve_forever()
