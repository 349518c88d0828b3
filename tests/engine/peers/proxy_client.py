#!/usr/bin/python3
"""WebSocket clients (python3-websockets) for the proxy tests.

  --mode streams --url U --streams N --bytes B [--ca FILE]
      N concurrent connections (wss: trusting the certificates of FILE); each sends B bytes of its own seeded
      pseudo-random data in binary messages of 1 byte to 64 KiB, reads the echo
      (binary messages, cut anywhere) until it has B bytes and compares.
      Prints "ok <N> <total bytes>" or "fail <why>".
  --mode flood --url U --bytes B
      sends B bytes (byte i is i % 251) in 256 KiB binary messages as fast as
      the connection takes them, printing "sent <bytes so far>" after each,
      then "done <bytes> <sha256 hex>" and closes.
  --mode drain --url U --bytes B --hold S
      connects, reads nothing for S seconds, then reads until it has B bytes
      and prints "received <bytes> <sha256 hex>".
"""
import argparse
import asyncio
import hashlib
import random
import ssl
import sys

import websockets


def stream_data(k, total):
    return random.Random(k).randbytes(total)


async def one_stream(url, k, total, context):
    data = stream_data(k, total)
    sizes = random.Random(1000 + k)
    async with websockets.connect(url, max_size=None, compression=None, open_timeout=30, ssl=context) as ws:
        async def sender():
            off = 0
            while off < total:
                n = sizes.randint(1, 65536)
                await ws.send(data[off:off + n])
                off += n

        task = asyncio.create_task(sender())
        got = bytearray()
        while len(got) < total:
            msg = await asyncio.wait_for(ws.recv(), 60)
            if isinstance(msg, str):
                raise RuntimeError(f"stream {k}: a text message came back")
            got += msg
        await task
        if bytes(got) != data:
            at = next(i for i in range(total) if got[i] != data[i]) if len(got) == total else len(got)
            raise RuntimeError(f"stream {k}: bytes differ at {at} (got {len(got)})")


async def streams(url, n, total, ca):
    context = ssl.create_default_context(cafile=ca) if url.startswith("wss:") else None
    results = await asyncio.gather(*(one_stream(url, k, total, context) for k in range(n)), return_exceptions=True)
    errors = [r for r in results if isinstance(r, BaseException)]
    if errors:
        print(f"fail {len(errors)} of {n} streams: {errors[0]!r}", flush=True)
        return 1
    print(f"ok {n} {n * total}", flush=True)
    return 0


def pattern(total):
    block = bytes(i % 251 for i in range(251 * 1044))   # 262,044 bytes, a whole number of periods
    out = bytearray()
    while len(out) < total:
        out += block
    return bytes(out[:total])


async def flood(url, total):
    data = pattern(total)
    async with websockets.connect(url, max_size=None, compression=None, open_timeout=30,
                                  write_limit=1 << 16) as ws:
        step = 1 << 18
        for off in range(0, total, step):
            await ws.send(data[off:off + step])
            print(f"sent {min(off + step, total)}", flush=True)
        print(f"done {total} {hashlib.sha256(data).hexdigest()}", flush=True)
    return 0


async def drain(url, total, hold):
    async with websockets.connect(url, max_size=None, compression=None, open_timeout=30, max_queue=2,
                                  read_limit=1 << 16) as ws:
        print("open", flush=True)
        await asyncio.sleep(hold)
        got = 0
        digest = hashlib.sha256()
        while got < total:
            msg = await asyncio.wait_for(ws.recv(), 60)
            got += len(msg)
            digest.update(msg)
        print(f"received {got} {digest.hexdigest()}", flush=True)
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mode", choices=["streams", "flood", "drain"], required=True)
    parser.add_argument("--url", required=True)
    parser.add_argument("--streams", type=int, default=100)
    parser.add_argument("--bytes", type=int, default=1 << 18)
    parser.add_argument("--hold", type=float, default=3.0)
    parser.add_argument("--ca")
    args = parser.parse_args()
    if args.mode == "streams":
        return asyncio.run(streams(args.url, args.streams, args.bytes, args.ca))
    if args.mode == "flood":
        return asyncio.run(flood(args.url, args.bytes))
    return asyncio.run(drain(args.url, args.bytes, args.hold))


if __name__ == "__main__":
    try:
        sys.exit(main())
    except Exception as e:  # reported, so that the test shows why
        print(f"fail {e!r}", flush=True)
        sys.exit(1)
