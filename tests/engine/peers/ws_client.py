#!/usr/bin/python3
"""WebSocket client peer (python3-websockets) for the server's interop tests.

Usage: ws_client.py <url> [cafile]. Prints one line per step:
  subprotocol <chosen or ->, text ok, big ok, fragments ok, ping ok, closed <code>
or, when the server refuses the upgrade, refused <status>.
"""
import asyncio
import ssl
import sys

import websockets


async def main(url, cafile):
    context = None
    if url.startswith("wss:"):
        context = ssl.create_default_context(cafile=cafile)
    try:
        ws = await websockets.connect(url, subprotocols=["chat", "v2"], max_size=None, ssl=context,
                                      compression=None)
    except websockets.exceptions.InvalidStatusCode as e:
        print("refused", e.status_code, flush=True)
        return
    print("subprotocol", ws.subprotocol or "-", flush=True)
    text = "h\u00e9llo \u20ac"
    await ws.send(text)
    if await ws.recv() == text:
        print("text ok", flush=True)
    big = bytes(i % 251 for i in range(16 * 1024 * 1024))
    await ws.send(big)
    if await ws.recv() == big:
        print("big ok", flush=True)
    await ws.send(["frag", "ment", "ed"])
    if await ws.recv() == "fragmented":
        print("fragments ok", flush=True)
    pong = await ws.ping(b"p")
    await asyncio.wait_for(pong, 10)
    print("ping ok", flush=True)
    await ws.close(code=4000, reason="done")
    print("closed", ws.close_code, flush=True)


asyncio.run(main(sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else None))
