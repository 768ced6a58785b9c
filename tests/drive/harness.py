"""The Drive emulator as the end-to-end tests start it: on 127.0.0.1, a free
port, stopped when its standard input closes (so a crashed test never leaves
it running)."""

import os
import subprocess
import sys

EMULATOR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "emulator.py")


def start_emulator(*args):
    """(process, base URL) of an emulator started with args."""
    process = subprocess.Popen([sys.executable, EMULATOR, *args], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               text=True)
    line = process.stdout.readline()
    process.stdout.close()
    if not line.startswith("PORT "):
        process.kill()
        raise RuntimeError("the emulator did not start: %r" % line)
    return process, "http://127.0.0.1:%d" % int(line.split()[1])


def stop_emulator(process):
    process.stdin.close()
    try:
        process.wait(timeout=10)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
