// The node-ws side of ws_deflate: the same messages, the same roles.
//   node_pair.js server MESSAGES   prints "ready <port>", then "done" once all arrived
//   node_pair.js client URL MIB    sends the messages, then closes
'use strict';
const WebSocket = require('ws');

function messages(mib) {
  const out = [];
  let total = 0;
  for (let i = 0; total < mib * 1024 * 1024; ) {
    let m = '';
    for (let k = 0; k < 200; ++k, ++i)
      m += '{"id":' + i + ',"name":"sensor-' + (i % 97) + '","value":' + ((i * 7) % 1000) + ',"ok":true}';
    out.push(Buffer.from(m));
    total += m.length;
  }
  return out;
}

const args = process.argv.slice(2);
if (args[0] === 'server') {
  const want = Number(args[1]);
  let got = 0;
  const wss = new WebSocket.Server({ host: '127.0.0.1', port: 0, maxPayload: 0, perMessageDeflate: true });
  wss.on('listening', () => console.log('ready ' + wss.address().port));
  wss.on('connection', (ws) => ws.on('message', () => {
    if (++got === want) {
      const u = process.cpuUsage();
      console.log('done ' + Math.round(u.user / 1000) + ' ' + Math.round(u.system / 1000));
    }
  }));
} else {
  const all = messages(Number(args[2]));
  const ws = new WebSocket(args[1], { maxPayload: 0, perMessageDeflate: true });
  ws.on('open', () => {
    let next = 0;
    const pump = () => {
      while (next < all.length && ws.bufferedAmount < (4 << 20)) ws.send(all[next++], { binary: true });
      if (next < all.length) setTimeout(pump, 1);
      else ws.close(1000);
    };
    pump();
  });
  ws.on('close', () => {
    const u = process.cpuUsage();
    console.log('cpu ' + Math.round(u.user / 1000) + ' ' + Math.round(u.system / 1000));
    process.exit(0);
  });
}
