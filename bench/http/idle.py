#!/usr/bin/env python3
"""Holds N idle connections open to 127.0.0.1:PORT for SECONDS, reconnecting
any the server drops, as slow or idle clients would. They come from eight
loopback addresses (127.0.0.2 to 127.0.0.9), as idle clients of a real
server come from many hosts, so that no single address holds more than a
server allows one address."""
import socket
import sys
import time

port, count, seconds = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
held = []
end = time.time() + seconds
while time.time() < end:
    held = [s for s in held if s.fileno() >= 0]
    while len(held) < count and time.time() < end:
        s = socket.socket()
        s.bind(("127.0.0.%d" % (2 + len(held) % 8), 0))
        s.setblocking(False)
        try:
            s.connect(("127.0.0.1", port))
        except BlockingIOError:
            pass
        held.append(s)
    time.sleep(0.5)
    # Drop the ones the server closed so they are replaced.
    alive = []
    for s in held:
        try:
            if s.recv(1, socket.MSG_PEEK) == b"":
                s.close()
                continue
        except BlockingIOError:
            pass
        except OSError:
            s.close()
            continue
        alive.append(s)
    held = alive
for s in held:
    s.close()
