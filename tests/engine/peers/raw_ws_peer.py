#!/usr/bin/python3
"""A WebSocket server written on raw sockets, for what a library peer would hide:
the exact frames the client sends back. Prints "ready <port>" once listening, then
one line per finding for each connection. With --cert and --key it serves wss.

  --mode close3000  sends a close with code 3000 and reason "bye" right after the
                    handshake; prints "answer <opcode> <code> <masked>" for the
                    first frame it gets back, or "no answer" when the connection
                    ends without one
  --mode trickle    starts a 100-byte binary frame and sends one byte of it every
                    0.2 s, never completing it; prints "close <code>" for a close
                    frame it gets, "eof" when the connection ends
  --mode quiet      sends nothing; answers every ping with a pong and prints
                    "ping <n>" for the n-th, "frame <opcode> <fin> <length>" for
                    each data frame, "close <code>" for a close frame
  --mode stall      reads nothing after the handshake; prints "stalled"
  --mode pingflood  sends pings (125-byte payloads) without reading anything back,
                    up to 1 GB; prints "flood blocked <bytes sent>" once a send
                    makes no progress for 2 s, or "flood done <bytes>"
"""
import argparse
import base64
import hashlib
import socket
import ssl
import struct
import sys
import threading
import time

GUID = b"258EAFA5-E914-47DA-95CA-C5AB0DC85B11"


def read_exact(conn, n):
    data = b""
    while len(data) < n:
        chunk = conn.recv(n - len(data))
        if not chunk:
            return None
        data += chunk
    return data


def handshake(conn):
    head = b""
    while b"\r\n\r\n" not in head:
        chunk = conn.recv(4096)
        if not chunk:
            return False
        head += chunk
    key = b""
    for line in head.split(b"\r\n"):
        if line.lower().startswith(b"sec-websocket-key:"):
            key = line.split(b":", 1)[1].strip()
    accept = base64.b64encode(hashlib.sha1(key + GUID).digest())
    conn.sendall(b"HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                 b"Sec-WebSocket-Accept: " + accept + b"\r\n\r\n")
    return True


def read_frame(conn):
    """Returns (opcode, masked, payload, fin) or None at the end of the connection."""
    head = read_exact(conn, 2)
    if head is None:
        return None
    opcode = head[0] & 0x0F
    masked = bool(head[1] & 0x80)
    length = head[1] & 0x7F
    if length == 126:
        length = struct.unpack(">H", read_exact(conn, 2))[0]
    elif length == 127:
        length = struct.unpack(">Q", read_exact(conn, 8))[0]
    mask = read_exact(conn, 4) if masked else b"\0\0\0\0"
    payload = read_exact(conn, length) if length else b""
    if payload is None:
        return None
    if masked:
        payload = bytes(b ^ mask[i % 4] for i, b in enumerate(payload)) if length < 4096 else payload
    return opcode, masked, payload, bool(head[0] & 0x80)


def close_code(payload):
    return struct.unpack(">H", payload[:2])[0] if len(payload) >= 2 else 1005


def close3000(conn):
    conn.sendall(b"\x88\x05" + struct.pack(">H", 3000) + b"bye")
    frame = read_frame(conn)
    if frame is None:
        print("no answer", flush=True)
        return
    opcode, masked, payload, _ = frame
    print(f"answer {opcode} {close_code(payload) if opcode == 8 else '-'} {int(masked)}", flush=True)


def trickle(conn):
    conn.sendall(b"\x82\x64")   # binary, FIN, 100 bytes to come

    def drip():
        try:
            for _ in range(99):
                conn.sendall(b"x")
                time.sleep(0.2)
        except OSError:
            pass

    threading.Thread(target=drip, daemon=True).start()
    while True:
        frame = read_frame(conn)
        if frame is None:
            print("eof", flush=True)
            return
        if frame[0] == 8:
            print(f"close {close_code(frame[2])}", flush=True)


def quiet(conn):
    pings = 0
    while True:
        frame = read_frame(conn)
        if frame is None:
            print("eof", flush=True)
            return
        opcode, _, payload, fin = frame
        if opcode == 9:
            pings += 1
            conn.sendall(bytes([0x8A, len(payload)]) + payload)
            print(f"ping {pings}", flush=True)
        elif opcode == 8:
            print(f"close {close_code(payload)}", flush=True)
            conn.sendall(b"\x88\x02" + payload[:2])
            return
        else:
            print(f"frame {opcode} {int(fin)} {len(payload)}", flush=True)


def pingflood(conn):
    ping = b"\x89\x7d" + b"p" * 125
    batch = ping * 512
    sent = 0
    conn.settimeout(2.0)
    try:
        while sent < 1 << 30:
            conn.sendall(batch)
            sent += len(batch)
    except socket.timeout:
        print(f"flood blocked {sent}", flush=True)
        time.sleep(5)
        return
    print(f"flood done {sent}", flush=True)


def stall(conn):
    print("stalled", flush=True)
    time.sleep(30)


def serve(conn, mode, tls):
    with conn:
        try:
            if tls is not None:
                conn = tls.wrap_socket(conn, server_side=True)
            if handshake(conn):
                {"close3000": close3000, "trickle": trickle, "quiet": quiet, "pingflood": pingflood,
                 "stall": stall}[mode](conn)
        except OSError as e:
            print(f"error {e}", flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mode", choices=["close3000", "trickle", "quiet", "pingflood", "stall"], required=True)
    parser.add_argument("--cert", help="PEM certificate: serve wss")
    parser.add_argument("--key")
    args = parser.parse_args()
    tls = None
    if args.cert:
        tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls.load_cert_chain(args.cert, args.key)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    print(f"ready {listener.getsockname()[1]}", flush=True)
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve, args=(conn, args.mode, tls), daemon=True).start()


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit(0)
