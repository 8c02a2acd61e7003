#!/usr/bin/env python3
"""Measures how long a workstation's GUI thread goes without answering.

Every PERIOD seconds it sends one line to the workstation's reader socket, which the GUI
thread answers (an unknown request gets an "error" line). It writes the longest time
between two answers, in milliseconds, to OUT after every answer and once more when it is
stopped (SIGTERM), so a reader of OUT always sees the figure so far.

  gui_probe.py SOCKET OUT [--period SECONDS] [--limit SECONDS]

--limit bounds the run (default 900 s).
"""
import argparse
import signal
import socket
import sys
import time


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("socket")
    parser.add_argument("out")
    parser.add_argument("--period", type=float, default=0.25)
    parser.add_argument("--limit", type=float, default=900.0)
    args = parser.parse_args()

    start = time.monotonic()
    last_answer = None
    longest = 0.0
    stopping = False

    def write():
        with open(args.out, "w") as f:
            f.write("%d\n" % int(longest * 1000))

    def stop(_signum, _frame):
        nonlocal stopping
        stopping = True

    signal.signal(signal.SIGTERM, stop)
    write()
    while not stopping and time.monotonic() - start < args.limit:
        try:
            with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
                s.settimeout(60)
                s.connect(args.socket)
                s.sendall(b"probe\n")
                reply = b""
                while not reply.endswith(b"\n"):
                    piece = s.recv(512)
                    if not piece:
                        break
                    reply += piece
            if reply.endswith(b"\n"):
                now = time.monotonic()
                if last_answer is not None:
                    longest = max(longest, now - last_answer)
                last_answer = now
                write()
        except OSError:
            # Not listening yet, gone, or no answer within the socket time-out: the gap
            # grows until the next answer.
            pass
        time.sleep(args.period)
    write()
    return 0


if __name__ == "__main__":
    sys.exit(main())
