#!/usr/bin/python3
"""Tiny proxies for the engine's tests: HTTP CONNECT and SOCKS5 (no auth, or user name and
password when --user and --password are given: Basic for CONNECT), SOCKS4/4a, and a hostile HTTP proxy
that answers CONNECT with a 200 MB reply head ("hostile").

Prints "ready <port>" once listening and "tunnel <host>:<port>" for every tunnel it opens.
Only loopback destinations are allowed.
"""
import argparse
import asyncio
import base64
import ipaddress
import socket
import struct
import sys

ALLOWED = {"127.0.0.1", "localhost", "::1"}
CREDENTIALS = None   # (user, password) that SOCKS5 demands


def allowed(host):
    return host in ALLOWED


async def pipe(reader, writer):
    try:
        while True:
            data = await reader.read(1 << 16)
            if not data:
                break
            writer.write(data)
            await writer.drain()
    except (ConnectionError, asyncio.CancelledError):
        pass
    finally:
        try:
            writer.close()
        except Exception:
            pass


async def tunnel(reader, writer, host, port, reply_ok, reply_fail):
    if not allowed(host):
        writer.write(reply_fail)
        await writer.drain()
        writer.close()
        return
    try:
        up_reader, up_writer = await asyncio.open_connection(host, port)
    except OSError:
        writer.write(reply_fail)
        await writer.drain()
        writer.close()
        return
    print(f"tunnel {host}:{port}", flush=True)
    writer.write(reply_ok)
    await writer.drain()
    await asyncio.gather(pipe(reader, up_writer), pipe(up_reader, writer))


async def http_connect(reader, writer):
    head = await reader.readuntil(b"\r\n\r\n")
    line = head.split(b"\r\n", 1)[0].decode()
    method, target, _ = line.split(" ", 2)
    if method != "CONNECT":
        writer.write(b"HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\n\r\n")
        writer.close()
        return
    if CREDENTIALS:
        wanted = "Basic " + base64.b64encode(f"{CREDENTIALS[0]}:{CREDENTIALS[1]}".encode()).decode()
        given = [l.split(b":", 1)[1].strip().decode() for l in head.split(b"\r\n")[1:]
                 if l.lower().startswith(b"proxy-authorization:")]
        if given != [wanted]:
            print("refused proxy authorization", flush=True)
            writer.write(b"HTTP/1.1 407 Proxy Authentication Required\r\n"
                         b"Proxy-Authenticate: Basic realm=\"tests\"\r\nContent-Length: 0\r\n\r\n")
            await writer.drain()
            writer.close()
            return
    host, port = target.rsplit(":", 1)
    host = host.strip("[]")
    await tunnel(reader, writer, host, int(port), b"HTTP/1.1 200 Connection established\r\n\r\n",
                 b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n")


async def hostile_connect(reader, writer):
    """Answers CONNECT with a status line and then header lines without end, 200 MB in all;
    prints how many bytes went out before the client hung up."""
    await reader.readuntil(b"\r\n\r\n")
    writer.write(b"HTTP/1.1 200 Connection established\r\n")
    line = b"X-Filler: " + b"f" * 1000 + b"\r\n"
    sent = 0
    try:
        while sent < 200 * 1024 * 1024:
            writer.write(line * 64)
            sent += len(line) * 64
            await writer.drain()
    except ConnectionError:
        pass
    print(f"hostile sent {sent}", flush=True)
    writer.close()


async def socks4(reader, writer):
    head = await reader.readexactly(8)
    version, command, port = struct.unpack(">BBH", head[:4])
    ip = head[4:8]
    await reader.readuntil(b"\0")  # user id
    if ip[:3] == b"\0\0\0" and ip[3] != 0:
        host = (await reader.readuntil(b"\0"))[:-1].decode()
    else:
        host = socket.inet_ntoa(ip)
    if version != 4 or command != 1:
        writer.write(b"\0\x5b" + b"\0" * 6)
        writer.close()
        return
    await tunnel(reader, writer, host, port, b"\0\x5a" + b"\0" * 6, b"\0\x5b" + b"\0" * 6)


async def socks5(reader, writer):
    version, count = await reader.readexactly(2)
    methods = await reader.readexactly(count)
    wanted = 2 if CREDENTIALS else 0
    if version != 5 or wanted not in methods:
        writer.write(b"\x05\xff")
        writer.close()
        return
    writer.write(bytes([5, wanted]))
    await writer.drain()
    if CREDENTIALS:
        # RFC 1929: version 1, user, password; status 0 lets the client on.
        _, ulen = await reader.readexactly(2)
        user = (await reader.readexactly(ulen)).decode()
        plen = (await reader.readexactly(1))[0]
        password = (await reader.readexactly(plen)).decode()
        if (user, password) != CREDENTIALS:
            print(f"refused {user}", flush=True)
            writer.write(b"\x01\x01")
            writer.close()
            return
        writer.write(b"\x01\x00")
        await writer.drain()
    version, command, _, atyp = await reader.readexactly(4)
    if atyp == 1:
        host = socket.inet_ntoa(await reader.readexactly(4))
    elif atyp == 3:
        n = (await reader.readexactly(1))[0]
        host = (await reader.readexactly(n)).decode()
    elif atyp == 4:
        host = str(ipaddress.IPv6Address(await reader.readexactly(16)))
    else:
        writer.close()
        return
    port = struct.unpack(">H", await reader.readexactly(2))[0]
    ok = b"\x05\x00\x00\x01" + socket.inet_aton("127.0.0.1") + struct.pack(">H", 0)
    fail = b"\x05\x05\x00\x01" + socket.inet_aton("0.0.0.0") + struct.pack(">H", 0)
    if command != 1:
        writer.write(b"\x05\x07\x00\x01" + b"\0" * 6)
        writer.close()
        return
    await tunnel(reader, writer, host, port, ok, fail)


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kind", choices=["connect", "socks4", "socks5", "hostile"], required=True)
    parser.add_argument("--user")
    parser.add_argument("--password")
    args = parser.parse_args()
    global CREDENTIALS
    if args.user is not None:
        CREDENTIALS = (args.user, args.password or "")
    handler = {"connect": http_connect, "socks4": socks4, "socks5": socks5,
               "hostile": hostile_connect}[args.kind]

    async def guarded(reader, writer):
        try:
            await handler(reader, writer)
        except (asyncio.IncompleteReadError, ConnectionError, ValueError, asyncio.LimitOverrunError):
            writer.close()

    server = await asyncio.start_server(guarded, "127.0.0.1", 0)
    print(f"ready {server.sockets[0].getsockname()[1]}", flush=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        sys.exit(0)
