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

const exchange: FetchLike = (input, init = {}) =>
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

const redirectStatuses = new Set([301, 302, 303, 307, 308]);

// Follows redirects as the global fetch does, unless told not to (redirect: 'manual').
export const httpFetch: FetchLike = async (input, init = {}) => {
  let url = input;
  let request = init;
  for (let hop = 0; ; hop++) {
    const response = await exchange(url, request);
    const location = response.headers.get('location');
    if (init.redirect === 'manual' || !redirectStatuses.has(response.status) || location === null) return response;
    if (hop === 20) throw new TypeError(`fetch failed: too many redirects from ${input}`);
    await response.body?.cancel();
    if (response.status === 303 || ((response.status === 301 || response.status === 302) && request.method === 'POST')) {
      request = { ...request, method: 'GET', body: undefined };
    }
    url = new URL(location, url).href;
  }
};
