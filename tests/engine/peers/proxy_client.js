#!/usr/bin/node
// WebSocket clients (node-ws) for the proxy tests: N concurrent connections,
// each sending B bytes of its own seeded pseudo-random data in binary messages
// of 1 byte to 64 KiB and comparing the echo (binary messages, cut anywhere).
// Prints "ok <N> <total bytes>" or "fail <why>".
// Usage: proxy_client.js --url U --streams N --bytes B
'use strict';
const WebSocket = require('ws');

const args = process.argv.slice(2);
let url = null, streams = 100, bytes = 1 << 18;
for (let i = 0; i < args.length; i++) {
  if (args[i] === '--url') url = args[++i];
  else if (args[i] === '--streams') streams = parseInt(args[++i], 10);
  else if (args[i] === '--bytes') bytes = parseInt(args[++i], 10);
}

// xorshift32, seeded per stream: the data and the message sizes are fixed.
function generator(seed) {
  let x = (seed * 2654435761 + 1) >>> 0 || 1;
  return () => {
    x ^= x << 13; x >>>= 0;
    x ^= x >>> 17;
    x ^= x << 5; x >>>= 0;
    return x;
  };
}

function stream(k) {
  return new Promise((resolve, reject) => {
    const next = generator(k + 1);
    const data = Buffer.alloc(bytes);
    for (let i = 0; i < bytes; i++) data[i] = next() & 0xff;
    const sizes = generator(1000 + k);
    const ws = new WebSocket(url, { perMessageDeflate: false, maxPayload: 0 });
    const parts = [];
    let got = 0;
    const timer = setTimeout(() => reject(new Error(`stream ${k}: timed out with ${got} bytes`)), 120000);
    ws.on('open', () => {
      let off = 0;
      while (off < bytes) {
        const n = 1 + (sizes() % 65536);
        ws.send(data.subarray(off, Math.min(off + n, bytes)), { binary: true });
        off += n;
      }
    });
    ws.on('message', (msg, isBinary) => {
      if (!isBinary) return reject(new Error(`stream ${k}: a text message came back`));
      parts.push(msg);
      got += msg.length;
      if (got >= bytes) {
        clearTimeout(timer);
        const all = Buffer.concat(parts);
        ws.close(1000);
        if (all.length === bytes && all.equals(data)) resolve();
        else reject(new Error(`stream ${k}: bytes differ (got ${all.length})`));
      }
    });
    ws.on('error', (e) => { clearTimeout(timer); reject(new Error(`stream ${k}: ${e.message}`)); });
    ws.on('close', (code) => {
      if (got < bytes) { clearTimeout(timer); reject(new Error(`stream ${k}: closed ${code} after ${got} bytes`)); }
    });
  });
}

Promise.allSettled([...Array(streams).keys()].map(stream)).then((results) => {
  const failed = results.filter((r) => r.status === 'rejected');
  if (failed.length) {
    process.stdout.write(`fail ${failed.length} of ${streams} streams: ${failed[0].reason.message}\n`);
    process.exit(1);
  }
  process.stdout.write(`ok ${streams} ${streams * bytes}\n`);
  process.exit(0);
});
