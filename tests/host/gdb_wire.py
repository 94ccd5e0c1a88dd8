#!/usr/bin/env python3
"""Talks to kivos-run's gdb stub byte by byte, as a careless or hostile
client would: gdb_wire.py PORT STEP... Each STEP is sent as it is, with
Python escapes (a packet's checksum is added where it ends in '#'), or is
'wait' (a short pause) or 'close'. Prints each reply packet's data, and
'(closed)' when the stub ends the connection."""
import socket
import sys
import time

s = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
s.settimeout(5)
got = b""


def replies(wait):
    """Prints the packets that arrive within `wait` seconds, acknowledged,
    and a '-' for each refusal of ours."""
    global got
    end = time.time() + wait
    while time.time() < end:
        s.settimeout(max(0.01, end - time.time()))
        try:
            data = s.recv(65536)
        except socket.timeout:
            break
        if not data:
            print("(closed)")
            sys.exit(0)
        got += data
        while got[:1] in (b"+", b"-"):
            if got[:1] == b"-":
                print("-")
            got = got[1:]
        while b"$" in got and b"#" in got[got.index(b"$"):]:
            start = got.index(b"$")
            end_at = got.index(b"#", start)
            if len(got) < end_at + 3:
                break
            print(got[start + 1:end_at].decode("latin-1")[:60], flush=True)
            got = got[end_at + 3:]
            s.sendall(b"+")


for step in sys.argv[2:]:
    if step == "wait":
        time.sleep(0.3)
        continue
    if step == "close":
        s.close()
        sys.exit(0)
    data = step.encode("latin-1").decode("unicode_escape").encode("latin-1")
    if data.startswith(b"$") and data.endswith(b"#"):
        data += b"%02x" % (sum(data[1:-1]) & 0xff)
    s.sendall(data)
    replies(1.0)
