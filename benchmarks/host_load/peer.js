// Plays the bridge for the host load benchmark: once connected to MORVANE_PIPE it fires every
// request at once, LOAD_REQUESTS "httpRequest" and LOAD_DOWNLOADS "downloadFile" reverse
// requests (to LOAD_BASE_URL, into LOAD_FOLDER), then reads the host's answers as fast as they
// come. When every request has ended it sends one "log" request: "load-done " and a JSON tally.
'use strict';
const { connect } = require('node:net');
const { join } = require('node:path');

const requests = Number(process.env.LOAD_REQUESTS);
const downloads = Number(process.env.LOAD_DOWNLOADS);
const bytes = Number(process.env.LOAD_BYTES);
const base = process.env.LOAD_BASE_URL;
const folder = process.env.LOAD_FOLDER;

const tally = { httpServed: 0, httpFailed: 0, downloadsServed: 0, downloadsFailed: 0, failures: [] };
const failed = (what, params) => {
  if (tally.failures.length < 5) tally.failures.push(`${what} ${params.sdkTaskId}: ${params.result} ${params.errorMsg}`);
};
const socket = connect(process.env.MORVANE_PIPE);
const send = (message) => socket.write(`${JSON.stringify({ from: 'client', to: 'host', ...message })}\n`);

socket.on('connect', () => {
  const lines = [];
  // The host lets in only the connection that shows its secret first, as the bridge does.
  const secret = process.env.MORVANE_PIPE_SECRET;
  if (secret) lines.push(JSON.stringify({ type: 'hello', from: 'client', to: 'host', secret }));
  for (let index = 0; index < requests; index++) {
    const params = { url: `${base}/answer/${index}`, method: 'GET', headers: {}, body: '', sdkTaskId: index, sdkData: String(index) };
    lines.push(JSON.stringify({ type: 'request', from: 'client', to: 'host', id: `h${index}`, method: 'httpRequest', params }));
  }
  for (let index = 0; index < downloads; index++) {
    const params = { url: `${base}/file/${index}`, path: join(folder, `${index}.bin`), sdkTaskId: index, sdkData: String(index) };
    lines.push(JSON.stringify({ type: 'request', from: 'client', to: 'host', id: `d${index}`, method: 'downloadFile', params }));
  }
  socket.write(`${lines.join('\n')}\n`);
});

let buffered = '';
socket.setEncoding('utf8');
socket.on('data', (chunk) => {
  buffered += chunk;
  let end;
  while ((end = buffered.indexOf('\n')) >= 0) {
    const message = JSON.parse(buffered.slice(0, end));
    buffered = buffered.slice(end + 1);
    if (message.type !== 'event') continue;
    const { params } = message;
    if (message.method === 'httpRequest') {
      if (params.result === 0 && params.httpStatusCode === 200 && params.body.length === bytes) tally.httpServed += 1;
      else {
        tally.httpFailed += 1;
        failed('HTTP request', params);
      }
    } else if (message.method === 'downloadFile' && params.isFinish) {
      if (params.result === 0) tally.downloadsServed += 1;
      else {
        tally.downloadsFailed += 1;
        failed('download', params);
      }
    }
    const ended = tally.httpServed + tally.httpFailed + tally.downloadsServed + tally.downloadsFailed;
    if (ended === requests + downloads) {
      send({ type: 'request', id: 'done', method: 'log', params: { log: `load-done ${JSON.stringify(tally)}` } });
    }
  }
});
socket.on('end', () => process.exit(0));
socket.on('error', () => process.exit(2));
