"""Loopback WebSocket echo server for the component's integration tests.

Prints "READY <port>" once listening on 127.0.0.1 (port chosen by the system)
and serves until its standard input closes, so it never outlives the test.
"""
import asyncio
import sys

import websockets


async def echo(ws, path=None):
    async for message in ws:
        await ws.send(message)


async def main():
    async with websockets.serve(echo, "127.0.0.1", 0, max_size=None) as server:
        port = server.sockets[0].getsockname()[1]
        print(f"READY {port}", flush=True)
        await asyncio.get_running_loop().run_in_executor(None, sys.stdin.read)


asyncio.run(main())
