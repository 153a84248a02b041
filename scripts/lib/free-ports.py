#!/usr/bin/env python3
"""Prints two loopback ports free right now: an even UDP port P (P+1 free too)
for the joint bus transport, and a TCP port for the front-end server."""
import random
import socket


def free(kind, port):
    s = socket.socket(socket.AF_INET, kind)
    try:
        s.bind(("127.0.0.1", port))
        return True
    except OSError:
        return False
    finally:
        s.close()


rnd = random.Random()
bus = next(p for p in (rnd.randrange(20000, 60000, 2) for _ in range(500))
           if free(socket.SOCK_DGRAM, p) and free(socket.SOCK_DGRAM, p + 1))
fe = next(p for p in (rnd.randrange(20000, 60000) for _ in range(500))
          if p not in (bus, bus + 1) and free(socket.SOCK_STREAM, p))
print(bus, fe)
