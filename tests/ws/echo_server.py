"""Loopback WebSocket echo server for the component's integration tests.

Prints "READY <port>" once listening on 127.0.0.1 (port chosen by the system)
and serves until its standard input closes, so it never outlives the test.
With "--tls CERT KEY" it serves wss with that certificate.
"""
import asyncio
import ssl
import sys

import websockets


async def echo(ws, path=None):
    async for message in ws:
        await ws.send(message)


async def main():
    context = None
    if len(sys.argv) == 4 and sys.argv[1] == "--tls":
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(sys.argv[2], sys.argv[3])
    async with websockets.serve(echo, "127.0.0.1", 0, max_size=None, ssl=context) as server:
        port = server.sockets[0].getsockname()[1]
        print(f"READY {port}", flush=True)
        await asyncio.get_running_loop().run_in_executor(None, sys.stdin.read)


asyncio.run(main())
