#!/usr/bin/python3
"""Plain TCP peers for the proxy tests. Prints "ready <port>" once listening.

  --mode echo   echoes every byte of every connection back
  --mode count  reads every connection to its end and prints
                "received <bytes> <sha256 hex>" for each
"""
import argparse
import asyncio
import hashlib
import sys


async def echo(reader, writer):
    try:
        while True:
            data = await reader.read(1 << 16)
            if not data:
                break
            writer.write(data)
            await writer.drain()
    except ConnectionError:
        pass
    finally:
        writer.close()


async def count(reader, writer):
    total = 0
    digest = hashlib.sha256()
    try:
        while True:
            data = await reader.read(1 << 16)
            if not data:
                break
            total += len(data)
            digest.update(data)
    except ConnectionError:
        pass
    print(f"received {total} {digest.hexdigest()}", flush=True)
    writer.close()


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mode", choices=["echo", "count"], required=True)
    args = parser.parse_args()
    server = await asyncio.start_server(echo if args.mode == "echo" else count, "127.0.0.1", 0)
    print(f"ready {server.sockets[0].getsockname()[1]}", flush=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        sys.exit(0)
