// The raw reference of the Windows round: connects to the named pipe in MORVANE_PIPE, as the
// bridge does, and writes every line it reads straight back.
'use strict';
const net = require('node:net');

const socket = net.connect(process.env.MORVANE_PIPE);
let pending = '';
socket.on('data', (chunk) => {
  pending += chunk.toString('latin1');
  const end = pending.lastIndexOf('\n');
  if (end < 0) return;
  socket.write(pending.slice(0, end + 1), 'latin1');
  pending = pending.slice(end + 1);
});
socket.on('close', () => process.exit(0));
socket.on('error', () => process.exit(1));
