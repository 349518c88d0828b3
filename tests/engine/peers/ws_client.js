// WebSocket client peer (node-ws) for the server's interop tests, with the
// same steps and output lines as ws_client.py. Usage: node ws_client.js <url> [cafile]
'use strict';
const fs = require('fs');
const WebSocket = require('ws');

const url = process.argv[2];
const options = { maxPayload: 64 * 1024 * 1024, perMessageDeflate: false };
if (process.argv[3]) options.ca = fs.readFileSync(process.argv[3]);
const ws = new WebSocket(url, ['chat', 'v2'], options);
const say = (line) => process.stdout.write(line + '\n');

ws.on('unexpected-response', (req, res) => { say('refused ' + res.statusCode); process.exit(0); });
ws.on('error', (e) => { say('error ' + e.message); process.exit(1); });

const text = 'h\u00e9llo \u20ac';
const big = Buffer.alloc(16 * 1024 * 1024);
for (let i = 0; i < big.length; i++) big[i] = i % 251;
const steps = [
  (data, isBinary) => { if (!isBinary && data.toString() === text) say('text ok'); ws.send(big); },
  (data, isBinary) => {
    if (isBinary && Buffer.compare(data, big) === 0) say('big ok');
    ws.send('frag', { fin: false }); ws.send('ment', { fin: false }); ws.send('ed', { fin: true });
  },
  (data, isBinary) => {
    if (!isBinary && data.toString() === 'fragmented') say('fragments ok');
    ws.once('pong', () => { say('ping ok'); ws.close(4000, 'done'); });
    ws.ping('p');
  },
];
ws.on('open', () => { say('subprotocol ' + (ws.protocol || '-')); ws.send(text); });
ws.on('message', (data, isBinary) => { const step = steps.shift(); if (step) step(data, isBinary); });
ws.on('close', (code) => { say('closed ' + code); process.exit(0); });
