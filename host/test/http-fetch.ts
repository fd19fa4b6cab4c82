// A fetch made on node:http, for runs of the suites on Windows Node under Wine: there the global
// fetch cannot connect to a local server ("connect UNKNOWN"), while node:http can.
import { request as httpRequest } from 'node:http';
import { request as httpsRequest } from 'node:https';
import { pipeline, Readable } from 'node:stream';
import type { ReadableStream as WebReadableStream } from 'node:stream/web';
import { createBrotliDecompress, createGunzip, createInflate } from 'node:zlib';
import type { FetchLike } from '../src/services/fetch';

// Statuses whose answer a Response may not give a body.
const bodilessStatuses = new Set([101, 204, 205, 304]);
// Like the global fetch, the body arrives decoded.
const decoders: Record<string, () => NodeJS.ReadWriteStream> = {
  gzip: createGunzip,
  'x-gzip': createGunzip,
  deflate: createInflate,
  br: createBrotliDecompress,
};

export const httpFetch: FetchLike = (input, init = {}) =>
  new Promise<Response>((resolve, reject) => {
    const url = new URL(input);
    const headers: Record<string, string> = {};
    new Headers(init.headers).forEach((value, name) => {
      headers[name] = value;
    });
    const send = url.protocol === 'https:' ? httpsRequest : httpRequest;
    const outgoing = send(url, { method: init.method ?? 'GET', headers, signal: init.signal ?? undefined }, (incoming) => {
      const answerHeaders = new Headers();
      for (let index = 0; index < incoming.rawHeaders.length; index += 2) {
        answerHeaders.append(incoming.rawHeaders[index], incoming.rawHeaders[index + 1]);
      }
      const status = incoming.statusCode ?? 0;
      const decoder = decoders[(incoming.headers['content-encoding'] ?? '').trim().toLowerCase()];
      const decoded = decoder === undefined ? incoming : pipeline(incoming, decoder(), () => undefined);
      const body = bodilessStatuses.has(status) ? null : (Readable.toWeb(Readable.from(decoded)) as WebReadableStream<Uint8Array>);
      if (body === null) incoming.resume();
      resolve(
        new Response(body as ReadableStream<Uint8Array> | null, {
          status,
          statusText: incoming.statusMessage,
          headers: answerHeaders,
        }),
      );
    });
    outgoing.on('error', reject);
    if (typeof init.body === 'string') outgoing.end(init.body);
    else outgoing.end();
  });
