#!/usr/bin/python3
"""WebSocket peer for the engine's interop tests (python3-websockets).

Prints "ready <port>" once listening. What a connection does depends on its path:
  /echo                 echoes every message with its type
  /big/<n>              sends n bytes (byte i is i % 251) as one binary message, then echoes
  /fragments            sends "Hello, fragmented world" as a text message in three fragments,
                        then bytes 0..99 as a binary message in four fragments, then echoes
  /close/<code>/<why>   closes at once with that code and reason
  /ping                 pings the client and sends "pong-ok" once the pong is back, then echoes
  /headers              sends the request headers as one JSON text message, then echoes
  /cookie               as /headers; the 101 response sets the cookie session=abc123
  /redirect/<path>      answers 302 with Location: /<path>
  /digest               demands HTTP Digest (user "alice", password "s3cret"), then echoes
"""
import argparse
import asyncio
import hashlib
import http
import json
import ssl
import sys
import urllib.parse

import websockets

REALM = "brindle-test"
NONCE = "4f1c2a9b7d3e"
USERS = {"alice": "s3cret"}


def md5(text):
    return hashlib.md5(text.encode()).hexdigest()


def parse_digest(value):
    if not value.lower().startswith("digest "):
        return None
    fields = {}
    for part in urllib.request.parse_http_list(value[7:]):
        if "=" in part:
            k, v = part.split("=", 1)
            fields[k.strip().lower()] = v.strip().strip('"')
    return fields


def digest_ok(value):
    f = parse_digest(value or "")
    if not f or f.get("username") not in USERS or f.get("nonce") != NONCE:
        return False
    ha1 = md5(f"{f['username']}:{REALM}:{USERS[f['username']]}")
    ha2 = md5(f"GET:{f.get('uri', '')}")
    if f.get("qop"):
        expected = md5(f"{ha1}:{NONCE}:{f.get('nc')}:{f.get('cnonce')}:{f['qop']}:{ha2}")
    else:
        expected = md5(f"{ha1}:{NONCE}:{ha2}")
    return f.get("response") == expected


async def process_request(path, headers):
    if path.startswith("/redirect/"):
        return (http.HTTPStatus.FOUND, [("Location", "/" + path[len("/redirect/"):])], b"")
    if path == "/digest" and not digest_ok(headers.get("Authorization")):
        challenge = f'Digest realm="{REALM}", nonce="{NONCE}", qop="auth", algorithm=MD5'
        return (http.HTTPStatus.UNAUTHORIZED, [("WWW-Authenticate", challenge)], b"")
    return None


def extra_headers(path, request_headers):
    if path == "/cookie":
        return [("Set-Cookie", "session=abc123; Path=/; Domain=127.0.0.1")]
    return []


async def echo(ws):
    async for message in ws:
        await ws.send(message)


async def handler(ws, path):
    try:
        if path.startswith("/big/"):
            n = int(path[len("/big/"):])
            pattern = bytes(i % 251 for i in range(251))
            data = (pattern * (n // 251 + 1))[:n]
            await ws.send(data)
        elif path == "/fragments":
            await ws.send(["Hello, ", "fragmented ", "world"])
            data = bytes(range(100))
            await ws.send([data[0:10], data[10:50], data[50:51], data[51:]])
        elif path.startswith("/close/"):
            _, _, code, why = path.split("/", 3)
            await ws.close(int(code), urllib.parse.unquote(why))
            return
        elif path == "/ping":
            waiter = await ws.ping(b"hi")
            await waiter
            await ws.send("pong-ok")
        elif path in ("/headers", "/cookie"):
            await ws.send(json.dumps({k.lower(): v for k, v in ws.request_headers.raw_items()}))
        await echo(ws)
    except websockets.ConnectionClosed:
        pass


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cert")
    parser.add_argument("--key")
    args = parser.parse_args()
    context = None
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
    server = await websockets.serve(handler, "127.0.0.1", 0, ssl=context, max_size=None,
                                    process_request=process_request, extra_headers=extra_headers,
                                    compression=None, ping_interval=None)
    port = server.sockets[0].getsockname()[1]
    print(f"ready {port}", flush=True)
    await server.wait_closed()


if __name__ == "__main__":
    import urllib.request  # noqa: F401  (parse_http_list)
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        sys.exit(0)
