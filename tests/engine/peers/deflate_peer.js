// Compressed-message peer (node-ws, perMessageDeflate): the same roles,
// arguments and output as deflate_peer.py.
'use strict';
const WebSocket = require('ws');

const args = process.argv.slice(2);
const role = args[0];
const bitsAt = args.indexOf('--bits');
const bits = bitsAt >= 0 ? Number(args[bitsAt + 1]) : undefined;
const noContext = args.includes('--no-context');
const deflate = {
  threshold: 0,
  // Left undefined unless asked, so the other side's wishes are taken.
  serverNoContextTakeover: noContext || undefined,
  clientNoContextTakeover: noContext || undefined,
  serverMaxWindowBits: bits,
  clientMaxWindowBits: bits === undefined ? true : bits,
};

function payloads() {
  const parts = [];
  let size = 0;
  for (let i = 0; size < 16 * 1024 * 1024; ++i) {
    const p = JSON.stringify({ id: i, name: 'sensor-' + (i % 97), value: (i * 7) % 1000 });
    parts.push(p);
    size += p.length;
  }
  const big = parts.join('').slice(0, 16 * 1024 * 1024);
  const small = [];
  for (let i = 0; i < 10000; ++i) small.push(JSON.stringify({ seq: i, speed: i % 130, heading: i % 360 }));
  return { big, small };
}

if (role === 'server') {
  const wss = new WebSocket.Server({ host: '127.0.0.1', port: 0, maxPayload: 0, perMessageDeflate: deflate });
  wss.on('listening', () => console.log('ready ' + wss.address().port));
  // The answer's header line, as sent, for the first message.
  wss.on('headers', (headers, req) => {
    const line = headers.find((h) => h.toLowerCase().startsWith('sec-websocket-extensions:'));
    req.extensionAnswer = line ? line.slice(line.indexOf(':') + 1).trim() : '';
  });
  wss.on('connection', (ws, req) => {
    ws.send('ext:' + req.extensionAnswer);
    ws.on('message', (data, isBinary) => ws.send(data, { binary: isBinary }));
  });
} else {
  const ws = new WebSocket(args[1], { maxPayload: 0, perMessageDeflate: deflate });
  const { big, small } = payloads();
  if (args.includes('--stream')) {
    // All that comes back as one byte stream (a proxy to a TCP echo).
    const sent = Buffer.concat([Buffer.from(big)].concat(small.map((m) => Buffer.from(m))));
    const back = [];
    let got = 0;
    ws.on('upgrade', (res) => console.log('ext ' + (res.headers['sec-websocket-extensions'] || '-')));
    ws.on('open', () => {
      ws.send(big);
      small.forEach((m, k) => ws.send(k % 2 ? m : Buffer.from(m)));
    });
    ws.on('message', (data) => {
      back.push(Buffer.from(data));
      got += data.length;
      if (got >= sent.length) {
        console.log(Buffer.concat(back).equals(sent) ? 'ok' : 'mismatch stream');
        ws.close(1000);
      }
    });
    ws.on('close', () => process.exit(0));
    ws.on('error', (e) => { console.log('error ' + e.message); process.exit(1); });
    return;
  }
  const onlySmall = args.includes('--small');
  const expected = (onlySmall ? [] : [big]).concat(small.map((m, k) => (k % 2 ? m : Buffer.from(m))));
  let next = 0;
  ws.on('upgrade', (res) => console.log('ext ' + (res.headers['sec-websocket-extensions'] || '-')));
  const sendSmall = () => small.forEach((m, k) => ws.send(k % 2 ? m : Buffer.from(m)));
  ws.on('open', () => (onlySmall ? sendSmall() : ws.send(big)));
  ws.on('message', (data, isBinary) => {
    const want = expected[next];
    const same = typeof want === 'string' ? !isBinary && data.toString() === want : isBinary && want.equals(data);
    if (!same) {
      console.log('mismatch ' + next);
      process.exit(1);
    }
    ++next;
    if (next === 1 && !onlySmall) sendSmall();
    if (next === expected.length) {
      console.log('ok');
      ws.close(1000);
    }
  });
  ws.on('close', () => process.exit(0));
  ws.on('error', (e) => { console.log('error ' + e.message); process.exit(1); });
}
