#!/usr/bin/node
// WebSocket peer for the engine's interop tests (node-ws). Prints "ready <port>".
// Paths as in ws_server.py: /echo, /big/<n>, /fragments, /close/<code>/<why>, /ping.
'use strict';
const fs = require('fs');
const http = require('http');
const https = require('https');
const WebSocket = require('ws');

const args = process.argv.slice(2);
let cert = null, key = null;
for (let i = 0; i < args.length; i++) {
  if (args[i] === '--cert') cert = fs.readFileSync(args[++i]);
  else if (args[i] === '--key') key = fs.readFileSync(args[++i]);
}
const server = cert ? https.createServer({ cert, key }) : http.createServer();
const wss = new WebSocket.Server({ server, maxPayload: 0, perMessageDeflate: false });

function echo(ws) {
  ws.on('message', (data, isBinary) => ws.send(data, { binary: isBinary }));
}

wss.on('connection', (ws, req) => {
  const path = req.url;
  if (path.startsWith('/big/')) {
    const n = parseInt(path.slice(5), 10);
    const data = Buffer.alloc(n);
    for (let i = 0; i < n; i++) data[i] = i % 251;
    ws.send(data, { binary: true });
  } else if (path === '/fragments') {
    ws.send('Hello, ', { fin: false });
    ws.send('fragmented ', { fin: false });
    ws.send('world', { fin: true });
    const data = Buffer.from([...Array(100).keys()]);
    ws.send(data.subarray(0, 10), { binary: true, fin: false });
    ws.send(data.subarray(10, 50), { binary: true, fin: false });
    ws.send(data.subarray(50, 51), { binary: true, fin: false });
    ws.send(data.subarray(51), { binary: true, fin: true });
  } else if (path.startsWith('/close/')) {
    const parts = path.split('/');
    ws.close(parseInt(parts[2], 10), decodeURIComponent(parts.slice(3).join('/')));
    return;
  } else if (path === '/ping') {
    ws.once('pong', () => ws.send('pong-ok'));
    ws.ping(Buffer.from('hi'));
  }
  echo(ws);
});

server.listen(0, '127.0.0.1', () => {
  process.stdout.write(`ready ${server.address().port}\n`);
});
