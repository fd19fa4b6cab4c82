// The download site of the host load benchmark, in a process of its own so that its sockets and
// memory do not count as the host's: every path answers with BYTES bytes of printable text.
// node server.js BYTES; prints the base URL on its first line, serves until stdin closes.
'use strict';
const { createServer } = require('node:http');

const bytes = Number(process.argv[2]);
const body = Buffer.alloc(bytes, 'morvane ');
const server = createServer((request, response) => {
  response.writeHead(200, { 'content-type': 'application/octet-stream', 'content-length': String(bytes) });
  response.end(body);
});
server.keepAliveTimeout = 60_000;
server.listen(0, '127.0.0.1', () => {
  process.stdout.write(`http://127.0.0.1:${server.address().port}\n`);
});
process.stdin.on('end', () => process.exit(0));
process.stdin.resume();
