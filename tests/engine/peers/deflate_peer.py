#!/usr/bin/python3
"""Compressed-message peer (python3-websockets, permessage-deflate).

  deflate_peer.py server [--bits N] [--no-context]
      prints "ready <port>"; each connection is first sent "ext:<the answer's
      Sec-WebSocket-Extensions>", then every message is echoed.
  deflate_peer.py client <url> [--bits N] [--no-context]
      prints "ext <the answer's Sec-WebSocket-Extensions>", then sends 16 MiB
      of JSON-like text and 10,000 small JSON messages (binary and text), checks
      each echo byte for byte, and prints "ok" (or "mismatch <what>").
--bits limits the window of both sides; --no-context asks both sides to
compress each message afresh; --stream (client) compares all that comes back
as one byte stream, for a peer that does not keep message boundaries (a proxy
to a TCP echo); --small (client) sends the small messages only.
"""
import argparse
import asyncio
import json

import websockets
from websockets.extensions import permessage_deflate as pmd


def payloads():
    big = "".join(json.dumps({"id": i, "name": "sensor-%d" % (i % 97), "value": i * 7 % 1000})
                  for i in range(300000))[: 16 * 1024 * 1024]
    small = [json.dumps({"seq": i, "speed": i % 130, "heading": i % 360}) for i in range(10000)]
    return big, small


async def echo(ws):
    await ws.send("ext:" + (ws.response_headers.get("Sec-WebSocket-Extensions") or ""))
    async for message in ws:
        await ws.send(message)


async def serve(args):
    factory = pmd.ServerPerMessageDeflateFactory(
        server_no_context_takeover=args.no_context, client_no_context_takeover=args.no_context,
        server_max_window_bits=args.bits, client_max_window_bits=args.bits)
    async with websockets.serve(echo, "127.0.0.1", 0, max_size=None, ping_interval=None,
                                extensions=[factory], compression=None) as server:
        print("ready", server.sockets[0].getsockname()[1], flush=True)
        await asyncio.Future()


async def client(args):
    factory = pmd.ClientPerMessageDeflateFactory(
        server_no_context_takeover=args.no_context, client_no_context_takeover=args.no_context,
        server_max_window_bits=args.bits, client_max_window_bits=args.bits or True)
    async with websockets.connect(args.url, max_size=None, ping_interval=None, extensions=[factory],
                                  compression=None) as ws:
        print("ext", ws.response_headers.get("Sec-WebSocket-Extensions") or "-", flush=True)
        big, small = payloads()
        if args.stream:
            sent = big.encode() + b"".join(m.encode() for m in small)
            await ws.send(big)
            for k, m in enumerate(small):
                await ws.send(m if k % 2 else m.encode())
            back = bytearray()
            while len(back) < len(sent):
                got = await ws.recv()
                back += got.encode() if isinstance(got, str) else got
            print("ok" if bytes(back) == sent else "mismatch stream", flush=True)
            return
        if not args.small:
            await ws.send(big)
            if await ws.recv() != big:
                print("mismatch big", flush=True)
                return
        async def sender():
            for k, m in enumerate(small):
                await ws.send(m if k % 2 else m.encode())
        task = asyncio.create_task(sender())
        for k, m in enumerate(small):
            got = await ws.recv()
            if got != (m if k % 2 else m.encode()):
                print("mismatch small", k, flush=True)
                return
        await task
        print("ok", flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("role", choices=["server", "client"])
    parser.add_argument("url", nargs="?")
    parser.add_argument("--bits", type=int)
    parser.add_argument("--no-context", action="store_true")
    parser.add_argument("--stream", action="store_true")
    parser.add_argument("--small", action="store_true")
    args = parser.parse_args()
    asyncio.run(serve(args) if args.role == "server" else client(args))


main()
