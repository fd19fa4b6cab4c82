// Which URLs reach the app's fetch: the scheme rule on the first URL and on every redirect hop,
// and the redirect rules the package applies now that it follows redirects itself.
import assert from 'node:assert/strict';
import { mkdtemp, rm } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, before, describe } from 'node:test';
import type { DownloadProgressParams, HttpAnswerParams } from '../src/protocol';
import { DownloadService } from '../src/services/download';
import type { FetchLike } from '../src/services/fetch';
import { performHttpRequest } from '../src/services/http-request';
import { eventually, startFakeBridge } from './helpers';
import { redirectTo, spyFetch } from './spy-fetch';
import { test } from './timed-test';

const webOnly = ['http:', 'https:'];

/** An answer for each URL of the table; anything else is a plain 200. */
function site(routes: Record<string, () => Response>) {
  return spyFetch((url) => (routes[url] ?? (() => new Response('fetched')))());
}

let folder: string;
before(async () => {
  folder = await mkdtemp(join(tmpdir(), 'url-schemes-'));
});
after(() => rm(folder, { recursive: true, force: true }));

let downloads = 0;
/** One download through a DownloadService, and its final report. */
async function download(url: string, fetch: FetchLike, allowedUrlSchemes = webOnly, crossOriginRedirects = true) {
  const reports: DownloadProgressParams[] = [];
  const service = new DownloadService({
    fetch,
    folders: () => [folder],
    stallTimeoutMs: 5_000,
    maxBytes: 1 << 20,
    maxConcurrent: 4,
    crossOriginRedirects,
    allowedUrlSchemes,
    progressIntervalMs: 0,
    report: (params) => reports.push(params),
    activity: () => undefined,
  });
  downloads += 1;
  await service.start({ url, path: join(folder, `${downloads}.bin`), sdkTaskId: 1, sdkData: '1' }, '1');
  return reports.at(-1)!;
}

function httpRequest(url: string, fetch: FetchLike, allowedUrlSchemes = webOnly, crossOriginRedirects = true, fields = {}) {
  return performHttpRequest(
    { url, method: 'GET', headers: {}, body: '', sdkTaskId: 1, sdkData: '1', ...fields },
    { fetch, timeoutMs: 2_000, maxBodyBytes: 1 << 20, crossOriginRedirects, allowedUrlSchemes },
  );
}

const ways: { name: string; outcome: (url: string, fetch: FetchLike, schemes?: string[], crossOrigin?: boolean) => Promise<HttpAnswerParams | DownloadProgressParams> }[] = [
  { name: 'HTTP request', outcome: httpRequest },
  { name: 'download', outcome: download },
];

describe('the URL scheme rule', () => {
  const refused: { url: string; scheme: string }[] = [
    { url: 'file:///etc/passwd', scheme: 'file:' },
    { url: 'FILE:///etc/passwd', scheme: 'file:' },
    { url: 'data:text/plain,secret', scheme: 'data:' },
    { url: 'ftp://files.example/driver.zip', scheme: 'ftp:' },
    { url: 'blob:http://127.0.0.1/0c5a8f3e-5f0e-4a57-9d3c-0d1f1a7e9b11', scheme: 'blob:' },
    { url: 'app://bundle/index.html', scheme: 'app:' },
    { url: 'javascript:alert(1)', scheme: 'javascript:' },
  ];
  for (const way of ways) {
    test(`a ${way.name} to a URL of another scheme fails without a fetch`, async () => {
      for (const { url, scheme } of refused) {
        const { fetch, seen } = spyFetch();
        const final = await way.outcome(url, fetch);
        assert.equal(final.result, -3001, url);
        assert.ok(
          final.errorMsg.includes(`refused the URL scheme "${scheme}" (allowed: http:, https:); see the allowedUrlSchemes option`),
          final.errorMsg,
        );
        assert.deepEqual(seen, [], url);
      }
    });

    test(`a ${way.name} redirected to a URL of another scheme fails at that hop, with or without cross-origin redirects`, async () => {
      const { fetch, seen } = site({
        'http://site.test/to-file': () => redirectTo('file:///etc/passwd'),
        'http://site.test/to-data': () => redirectTo('data:text/plain,secret', 307),
        'http://site.test/hop': () => redirectTo('/to-ftp', 301),
        'http://site.test/to-ftp': () => redirectTo('ftp://site.test/driver.zip', 308),
      });
      const cases = [
        { url: 'http://site.test/to-file', scheme: 'file:', from: 'http://site.test/to-file' },
        { url: 'http://site.test/to-data', scheme: 'data:', from: 'http://site.test/to-data' },
        { url: 'http://site.test/hop', scheme: 'ftp:', from: 'http://site.test/to-ftp' },
      ];
      for (const crossOrigin of [true, false]) {
        for (const { url, scheme, from } of cases) {
          const final = await way.outcome(url, fetch, webOnly, crossOrigin);
          assert.equal(final.result, -3001, url);
          assert.ok(final.errorMsg.includes(`refused the URL scheme "${scheme}" of a redirect from ${from} (allowed: http:, https:)`), final.errorMsg);
        }
      }
      assert.ok(seen.length > 0);
      assert.deepEqual(seen.filter((request) => !request.url.startsWith('http://site.test/')), []);
    });

    test(`allowedUrlSchemes widens the rule for a ${way.name}, on the first URL and on redirects`, async () => {
      const { fetch, seen } = site({ 'http://site.test/to-app': () => redirectTo('app://bundle/driver.zip') });
      const widened = ['http:', 'https:', 'app:'];
      for (const url of ['app://bundle/driver.zip', 'http://site.test/to-app']) {
        const final = await way.outcome(url, fetch, widened);
        assert.deepEqual([final.result, final.errorMsg], [0, ''], url);
      }
      assert.deepEqual(seen.map((request) => request.url), ['app://bundle/driver.zip', 'http://site.test/to-app', 'app://bundle/driver.zip']);
      const refusedStill = await way.outcome('data:text/plain,x', fetch, widened);
      assert.match(refusedStill.errorMsg, /refused the URL scheme "data:" \(allowed: http:, https:, app:\)/);
    });
  }
});

describe('redirects, followed hop by hop', () => {
  test('every fetch is asked not to follow redirects itself', async () => {
    const { fetch, seen } = site({ 'http://site.test/a': () => redirectTo('/b') });
    for (const way of ways) {
      const final = await way.outcome('http://site.test/a', fetch);
      assert.equal(final.result, 0, final.errorMsg);
    }
    assert.equal(seen.length, 4);
    assert.ok(seen.every((request) => request.redirect === 'manual'));
  });

  test('a fetch that hides where a redirect goes fails it', async () => {
    const opaque = { type: 'opaqueredirect', status: 0, headers: new Headers(), body: null } as unknown as Response;
    for (const way of ways) {
      const final = await way.outcome('http://site.test/a', async () => opaque);
      assert.equal(final.result, -3001);
      assert.match(final.errorMsg, /opaque redirect/);
    }
  });

  test('method, body and headers change across hops as fetch changes them', async () => {
    const { fetch, seen } = site({
      'http://site.test/303': () => redirectTo('/next', 303),
      'http://site.test/302': () => redirectTo('/next', 302),
      'http://site.test/307': () => redirectTo('/next', 307),
      'http://site.test/away': () => redirectTo('http://other.test/next', 307),
      'http://site.test/stay': () => redirectTo('/next', 307),
    });
    const headers = { 'content-type': 'application/json', authorization: 'Bearer t', cookie: 'a=1', 'x-app': 'kept' };
    const cases: { url: string; method: string; body: string | undefined; kept: string[]; dropped: string[] }[] = [
      { url: 'http://site.test/303', method: 'GET', body: undefined, kept: ['authorization', 'x-app'], dropped: ['content-type'] },
      { url: 'http://site.test/302', method: 'GET', body: undefined, kept: ['authorization', 'x-app'], dropped: ['content-type'] },
      { url: 'http://site.test/307', method: 'POST', body: '{"q":1}', kept: ['content-type', 'authorization', 'cookie', 'x-app'], dropped: [] },
      { url: 'http://site.test/away', method: 'POST', body: '{"q":1}', kept: ['content-type', 'x-app'], dropped: ['authorization', 'cookie'] },
      { url: 'http://site.test/stay', method: 'POST', body: '{"q":1}', kept: ['authorization', 'cookie'], dropped: [] },
    ];
    for (const { url, method, body, kept, dropped } of cases) {
      seen.length = 0;
      const answer = await httpRequest(url, fetch, webOnly, true, { method: 'POST', body: '{"q":1}', headers });
      assert.equal(answer.result, 0, answer.errorMsg);
      const [first, second] = seen;
      assert.deepEqual([first.method, first.body], ['POST', '{"q":1}'], url);
      assert.deepEqual([second.method, second.body], [method, body], url);
      for (const name of kept) assert.equal(second.headers.get(name), headers[name as keyof typeof headers], `${url} keeps ${name}`);
      for (const name of dropped) assert.equal(second.headers.get(name), null, `${url} drops ${name}`);
    }
  });

  test('20 redirects are followed, a 21st fails; cross-origin ones only when allowed', async () => {
    const chain = (name: string, hops: number, last: string) =>
      Object.fromEntries(
        Array.from({ length: hops }, (_, index) => [
          `http://site.test/${name}/${index}`,
          () => redirectTo(index + 1 === hops ? last : `/${name}/${index + 1}`),
        ]),
      );
    const { fetch } = site({ ...chain('twenty', 20, '/done'), ...chain('more', 21, '/done'), ...chain('away', 1, 'http://other.test/x') });
    for (const way of ways) {
      const cases: { url: string; crossOrigin: boolean; result: number; message?: RegExp }[] = [
        { url: 'http://site.test/twenty/0', crossOrigin: false, result: 0 },
        { url: 'http://site.test/more/0', crossOrigin: true, result: -3001, message: /more than 20 redirects/ },
        { url: 'http://site.test/away/0', crossOrigin: true, result: 0 },
        { url: 'http://site.test/away/0', crossOrigin: false, result: -3001, message: /another origin \(http:\/\/other\.test\); see the crossOriginRedirects option/ },
      ];
      for (const { url, crossOrigin, result, message } of cases) {
        const final = await way.outcome(url, fetch, webOnly, crossOrigin);
        assert.equal(final.result, result, `${way.name} ${url}: ${final.errorMsg}`);
        if (message !== undefined) assert.match(final.errorMsg, message);
      }
    }
  });
});

test('through the bridge: a refused URL answers the library with a failure and a warning, and never reaches the fetch', async () => {
  const { fetch, seen } = spyFetch();
  const warnings: string[] = [];
  const bridge = await startFakeBridge(
    {
      echoEvents: true,
      onConnect: [
        { reverse: { id: '0', method: 'httpRequest', params: { url: 'file:///etc/passwd', method: 'GET', headers: {}, body: '', sdkTaskId: 1, sdkData: '1' } } },
        { reverse: { id: '1', method: 'downloadFile', params: { url: 'file:///etc/passwd', path: join(folder, 'passwd'), sdkTaskId: 2, sdkData: '2' } } },
      ],
    },
    { fetch, downloadDirs: [folder], logger: { warn: (message) => warnings.push(message) } },
  );
  try {
    const events: { method: string; params: { result: number; errorMsg: string } }[] = [];
    bridge.on('log', (line) => {
      if (line.startsWith('{')) events.push(JSON.parse(line));
    });
    await eventually(() => events.length === 2);
    for (const method of ['httpRequest', 'downloadFile']) {
      const event = events.find((candidate) => candidate.method === method)!;
      assert.equal(event.params.result, -3001, method);
      assert.match(event.params.errorMsg, /refused the URL scheme "file:"/, method);
    }
    assert.equal(warnings.filter((warning) => /refused the URL scheme "file:"/.test(warning)).length, 2, warnings.join('\n'));
    assert.deepEqual(seen, []);
  } finally {
    await bridge.close();
  }
});
