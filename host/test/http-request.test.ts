import assert from 'node:assert/strict';
import type { Server } from 'node:http';
import { after, before, describe } from 'node:test';
import { test } from './timed-test';
import type { HttpRequestParams } from '../src/protocol';
import { performHttpRequest } from '../src/services/http-request';
import { readBody, refusedUrl, startHttpServer, stopHttpServer } from './helpers';

function request(fields: Partial<HttpRequestParams>): HttpRequestParams {
  return { url: '', method: 'GET', headers: {}, body: '', sdkTaskId: 7, sdkData: '18446744073709551615', ...fields };
}

describe('performHttpRequest', () => {
  let server: Server;
  let base: string;
  let other: Server;
  let elsewhere: string;
  before(async () => {
    // Another origin: the same host on another port.
    ({ server: other, url: elsewhere } = await startHttpServer(async (_req, res) => {
      res.end(JSON.stringify({ method: 'GET', body: '', token: null, text: 'elsewhere' }));
    }));
    ({ server, url: base } = await startHttpServer(async (req, res) => {
      const body = await readBody(req);
      if (req.url === '/slow') return; // never answers
      if (req.url === '/cookies') {
        res.setHeader('set-cookie', ['session=a1; Expires=Wed, 21 Oct 2026 07:28:00 GMT; Path=/', 'region=eu; HttpOnly']);
        res.setHeader('x-variant', ['one', 'two']);
        res.end('{}');
        return;
      }
      if (req.url === '/big') {
        res.writeHead(200, { 'content-length': '1000' }).end('b'.repeat(1000));
        return;
      }
      if (req.url === '/big-unannounced') {
        res.writeHead(200);
        for (let i = 0; i < 10; i++) res.write('b'.repeat(100));
        res.end();
        return;
      }
      if (req.url === '/to-here') {
        res.writeHead(302, { location: '/api' }).end();
        return;
      }
      if (req.url === '/to-elsewhere') {
        res.writeHead(302, { location: `${elsewhere}/api` }).end();
        return;
      }
      if (req.url === '/missing') {
        res.writeHead(404, { 'x-reason': 'gone' }).end('not here');
        return;
      }
      res.setHeader('content-type', 'application/json; charset=utf-8');
      res.setHeader('x-trace', 'abc');
      res.end(JSON.stringify({ method: req.method, body, token: req.headers['x-token'] ?? null, text: 'Grafik-Treiber ü' }));
    }));
  });
  after(async () => {
    await stopHttpServer(server);
    await stopHttpServer(other);
  });

  const fetchOptions = {
    fetch: (input: string, init?: RequestInit) => fetch(input, init),
    timeoutMs: 2_000,
    maxBodyBytes: 1 << 20,
    crossOriginRedirects: true,
    allowedUrlSchemes: ['http:', 'https:'],
  };

  const exchanges: { name: string; fields: Partial<HttpRequestParams>; method: string; body: string; token: string | null }[] = [
    { name: 'GET with a header', fields: { headers: { 'X-Token': 't1' } }, method: 'GET', body: '', token: 't1' },
    { name: 'POST with its body', fields: { method: 'POST', body: '{"q":"é"}' }, method: 'POST', body: '{"q":"é"}', token: null },
    { name: 'GET sends no body even when given one', fields: { method: 'GET', body: 'ignored' }, method: 'GET', body: '', token: null },
    { name: 'an unknown method as GET', fields: { method: 'PATCH' }, method: 'GET', body: '', token: null },
  ];
  for (const { name, fields, method, body, token } of exchanges) {
    test(name, async () => {
      const answer = await performHttpRequest(request({ url: `${base}/api`, ...fields }), fetchOptions);
      assert.equal(answer.result, 0);
      assert.equal(answer.httpStatusCode, 200);
      assert.equal(answer.errorMsg, '');
      assert.equal(answer.headers['x-trace'], 'abc');
      assert.deepEqual(JSON.parse(answer.body), { method, body, token, text: 'Grafik-Treiber ü' });
      assert.equal(answer.sdkTaskId, 7);
      assert.equal(answer.sdkData, '18446744073709551615');
    });
  }

  test('an HTTP error status is passed on with result 0', async () => {
    const answer = await performHttpRequest(request({ url: `${base}/missing` }), fetchOptions);
    assert.deepEqual(
      { result: answer.result, status: answer.httpStatusCode, body: answer.body, reason: answer.headers['x-reason'] },
      { result: 0, status: 404, body: 'not here', reason: 'gone' },
    );
  });

  test('repeated headers keep every value: Set-Cookie joined by line feeds, others by commas', async (t) => {
    const expected = {
      'set-cookie': 'session=a1; Expires=Wed, 21 Oct 2026 07:28:00 GMT; Path=/\nregion=eu; HttpOnly',
      'x-variant': 'one, two',
    };
    await t.test('from a real answer', async () => {
      const answer = await performHttpRequest(request({ url: `${base}/cookies` }), fetchOptions);
      assert.deepEqual({ 'set-cookie': answer.headers['set-cookie'], 'x-variant': answer.headers['x-variant'] }, expected);
    });
    await t.test('from a fetch whose Headers lack getSetCookie', async () => {
      const entries: [string, string][] = [
        ['set-cookie', 'session=a1; Expires=Wed, 21 Oct 2026 07:28:00 GMT; Path=/'],
        ['x-variant', 'one'],
        ['set-cookie', 'region=eu; HttpOnly'],
        ['x-variant', 'two'],
      ];
      const headers = { forEach: (visit: (value: string, name: string) => void) => entries.forEach(([name, value]) => visit(value, name)) };
      const fetchWithPlainHeaders = async () => ({ status: 200, headers, text: async () => '' }) as unknown as Response;
      const answer = await performHttpRequest(request({ url: `${base}/cookies` }), { ...fetchOptions, fetch: fetchWithPlainHeaders });
      assert.deepEqual(answer.headers, expected);
    });
  });

  test('failures become result codes with a message', async (t) => {
    const failures: { name: string; url: () => Promise<string>; options?: object; result: number; message: RegExp }[] = [
      { name: 'refused connection', url: refusedUrl, result: -3001, message: /ECONNREFUSED/ },
      { name: 'malformed URL', url: async () => 'not a url', result: -3001, message: /./ },
      { name: 'no answer in time', url: async () => `${base}/slow`, options: { timeoutMs: 200 }, result: -3000, message: /200 ms/ },
      {
        name: 'a fetch that throws',
        url: async () => `${base}/api`,
        options: { fetch: () => { throw new TypeError('proxy misconfigured'); } },
        result: -3001,
        message: /proxy misconfigured/,
      },
    ];
    for (const failure of failures) {
      await t.test(failure.name, async () => {
        const answer = await performHttpRequest(request({ url: await failure.url() }), { ...fetchOptions, ...failure.options });
        assert.equal(answer.result, failure.result);
        assert.equal(answer.httpStatusCode, 0);
        assert.match(answer.errorMsg, failure.message);
        assert.equal(answer.sdkData, '18446744073709551615');
      });
    }
  });

  test('a body past the limit fails cleanly, announced or not; one at the limit passes', async () => {
    const cases: { url: string; max: number; result: number }[] = [
      { url: '/big', max: 999, result: -3001 },
      { url: '/big-unannounced', max: 999, result: -3001 },
      { url: '/big', max: 1000, result: 0 },
      { url: '/big-unannounced', max: 1000, result: 0 },
    ];
    for (const { url, max, result } of cases) {
      const answer = await performHttpRequest(request({ url: `${base}${url}` }), { ...fetchOptions, maxBodyBytes: max });
      assert.equal(answer.result, result, `${url} with ${max}: ${answer.errorMsg}`);
      if (result !== 0) {
        assert.match(answer.errorMsg, /larger than the limit of 999 bytes/);
        assert.equal(answer.body, '');
      } else {
        assert.equal(answer.body.length, 1000);
      }
    }
  });

  test('redirects to another origin are followed only when allowed; those on the same origin always', async () => {
    const cases: { url: string; allowed: boolean; result: number; text?: string }[] = [
      { url: '/to-here', allowed: false, result: 0, text: 'Grafik-Treiber ü' },
      { url: '/to-elsewhere', allowed: true, result: 0, text: 'elsewhere' },
      { url: '/to-elsewhere', allowed: false, result: -3001 },
    ];
    for (const { url, allowed, result, text } of cases) {
      const answer = await performHttpRequest(request({ url: `${base}${url}` }), { ...fetchOptions, crossOriginRedirects: allowed });
      assert.equal(answer.result, result, `${url} (${allowed}): ${answer.errorMsg}`);
      if (text !== undefined) assert.equal(JSON.parse(answer.body).text, text);
      else assert.match(answer.errorMsg, /refused a redirect .* to another origin/);
    }
  });

  test('stops when the bridge goes away', async () => {
    const gone = new AbortController();
    const pending = performHttpRequest(request({ url: `${base}/slow` }), { ...fetchOptions, signal: gone.signal });
    gone.abort();
    const answer = await pending;
    assert.equal(answer.result, -3001);
  });
});
