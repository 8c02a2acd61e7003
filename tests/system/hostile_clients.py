#!/usr/bin/env python3
"""Hostile load for the end-to-end tests: holds many idle and slow TCP connections open
against one server on loopback, from several loopback source addresses, and opens a new
one whenever the server closes one (after a pause). Bounded: it ends on SIGTERM or SIGINT,
or after --seconds at the latest, and then prints what happened on one line:

  hostile[KIND]: attempts A, refused R, closed later C, open at end O, most open M
  (open as the client sees it: a connection the server accepts and closes at once counts
  for that moment)

  refused       the connection attempt failed, or the server closed it within a second
                without sending anything (the message server's per-address and client
                limits)
  closed later  the server closed it after that (time-outs of connections that never log
                in or never open a session)

Kinds:
  msg  message server: half the connections stay silent after the "Login:" prompt, the
       other half trickle one Base64 character every --trickle seconds (never a line end)
  db   database server: every connection opens a transport announcing the longest
       heartbeat interval (0xFFFFFFFF ms); half then stay silent, the other half trickle a
       frame header one byte every --trickle seconds

  hostile_clients.py --kind msg|db --target HOST:PORT --sources 127.0.0.2-9 --per-source N
"""
import argparse
import errno
import selectors
import signal
import socket
import struct
import sys
import time

REFUSED_WITHIN = 1.0  # seconds: a close this early without a byte counts as a refusal
RECONNECT_AFTER = 2.0  # seconds between a close and the next attempt of that slot
RETRY_REFUSED_AFTER = 5.0  # seconds between a refusal and the next attempt
OPEN_PER_TICK = 100  # new connection attempts per 0.1 s at most


def open_transport(heartbeat_ms):
    # 32-byte frame header (little-endian): transport id, session id, reserved, message id,
    # total length, pipe message count, error code (16 bits), kind, compression type,
    # uncompressed length; then the 4-byte heartbeat interval. Kind 10 opens a transport.
    header = struct.pack("<IIIIIIHBBI", 0, 0, 0, 0, 36, 0, 0, 10, 0, 0)
    return header + struct.pack("<I", heartbeat_ms)


# The header of a request frame that the slow database connections never finish.
SLOW_FRAME = struct.pack("<IIIIIIHBBI", 1, 1, 0, 2, 32 + 64, 0, 0, 1, 0, 0)


def parse_sources(text):
    # "127.0.0.2-9" -> 127.0.0.2 ... 127.0.0.9; "127.0.0.5" -> itself
    base, _, last = text.rpartition(".")
    if "-" in last:
        first, end = (int(x) for x in last.split("-"))
    else:
        first = end = int(last)
    return ["%s.%d" % (base, n) for n in range(first, end + 1)]


class Slot:
    def __init__(self, source, slow):
        self.source = source
        self.slow = slow
        self.sock = None
        self.state = "wait"  # wait, connecting, open
        self.next_at = 0.0
        self.connected_at = 0.0
        self.got_bytes = False
        self.sent = 0


class Load:
    def __init__(self, args):
        self.kind = args.kind
        host, _, port = args.target.rpartition(":")
        self.target = (host, int(port))
        self.trickle = args.trickle
        self.sel = selectors.DefaultSelector()
        self.slots = []
        for source in parse_sources(args.sources):
            for i in range(args.per_source):
                self.slots.append(Slot(source, slow=(i % 2 == 1)))
        self.attempts = self.refused = self.closed_later = 0
        self.most_open = 0

    def open_count(self):
        return sum(1 for s in self.slots if s.state == "open")

    def start(self, slot, now):
        self.attempts += 1
        sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        sock.setblocking(False)
        try:
            sock.bind((slot.source, 0))
            rc = sock.connect_ex(self.target)
        except OSError:
            sock.close()
            self.refuse(slot, now)
            return
        if rc not in (0, errno.EINPROGRESS):
            sock.close()
            self.refuse(slot, now)
            return
        slot.sock = sock
        slot.state = "connecting"
        slot.got_bytes = False
        slot.sent = 0
        self.sel.register(sock, selectors.EVENT_WRITE, slot)

    def refuse(self, slot, now):
        self.refused += 1
        slot.state = "wait"
        slot.next_at = now + RETRY_REFUSED_AFTER

    def finish(self, slot, now):
        self.sel.unregister(slot.sock)
        slot.sock.close()
        slot.sock = None
        if slot.state == "connecting" or (
            not slot.got_bytes and now - slot.connected_at < REFUSED_WITHIN
        ):
            self.refuse(slot, now)
        else:
            self.closed_later += 1
            slot.state = "wait"
            slot.next_at = now + RECONNECT_AFTER

    def connected(self, slot, now):
        if slot.sock.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR) != 0:
            self.finish(slot, now)
            return
        slot.state = "open"
        slot.connected_at = now
        slot.next_at = now + self.trickle
        self.sel.modify(slot.sock, selectors.EVENT_READ, slot)
        if self.kind == "db":
            self.send(slot, open_transport(0xFFFFFFFF), now)
        self.most_open = max(self.most_open, self.open_count())

    def send(self, slot, data, now):
        try:
            slot.sock.send(data)
        except OSError:
            self.finish(slot, now)

    def readable(self, slot, now):
        try:
            data = slot.sock.recv(4096)
        except BlockingIOError:
            return
        except OSError:
            data = b""
        if not data:
            self.finish(slot, now)
        else:
            slot.got_bytes = True

    def tick(self, now):
        started = 0
        for slot in self.slots:
            if slot.state == "wait" and now >= slot.next_at and started < OPEN_PER_TICK:
                self.start(slot, now)
                started += 1
            elif slot.state == "open" and slot.slow and now >= slot.next_at:
                slot.next_at = now + self.trickle
                if self.kind == "msg":
                    self.send(slot, b"Q", now)
                elif slot.sent < len(SLOW_FRAME):
                    self.send(slot, SLOW_FRAME[slot.sent : slot.sent + 1], now)
                    slot.sent += 1

    def run(self, seconds, stop):
        end = time.monotonic() + seconds
        next_tick = 0.0
        while not stop[0] and time.monotonic() < end:
            for key, _ in self.sel.select(timeout=0.1):
                now = time.monotonic()
                slot = key.data
                if slot.sock is None:
                    continue
                if slot.state == "connecting":
                    self.connected(slot, now)
                elif slot.state == "open":
                    self.readable(slot, now)
            now = time.monotonic()
            if now >= next_tick:
                self.tick(now)
                next_tick = now + 0.1
            self.most_open = max(self.most_open, self.open_count())

    def report(self):
        return "hostile[%s]: attempts %d, refused %d, closed later %d, open at end %d, most open %d" % (
            self.kind,
            self.attempts,
            self.refused,
            self.closed_later,
            self.open_count(),
            self.most_open,
        )


def main():
    parser = argparse.ArgumentParser(description="idle and slow connections against a server")
    parser.add_argument("--kind", choices=["msg", "db"], required=True)
    parser.add_argument("--target", required=True, help="HOST:PORT on loopback")
    parser.add_argument("--sources", required=True, help="e.g. 127.0.0.2-9")
    parser.add_argument("--per-source", type=int, required=True)
    parser.add_argument("--trickle", type=float, default=5.0, help="seconds between bytes")
    parser.add_argument("--seconds", type=float, default=120.0, help="longest run")
    parser.add_argument("--status", help="file rewritten every second with the open count")
    args = parser.parse_args()
    if not args.target.startswith("127.") or not args.sources.startswith("127."):
        sys.exit("hostile_clients.py: loopback addresses only")
    stop = [False]

    def on_signal(*_):
        stop[0] = True

    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    load = Load(args)
    if args.status:
        # The status file lets the script wait until the load is in place.
        orig_tick = load.tick
        last = [0.0]

        def tick(now):
            orig_tick(now)
            if now - last[0] >= 1.0:
                last[0] = now
                with open(args.status, "w") as f:
                    f.write("%d %d\n" % (load.open_count(), load.refused))

        load.tick = tick
    load.run(args.seconds, stop)
    print(load.report(), flush=True)


if __name__ == "__main__":
    main()
