// How many HTTP exchanges and downloads run at once for the library, and in which order the
// waiting ones start: the limiter alone, the download service, and the bridge end to end.
import assert from 'node:assert/strict';
import { mkdtemp, rm } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, before, describe } from 'node:test';
import type { MorvaneBridge } from '../src';
import type { DownloadProgressParams } from '../src/protocol';
import { DownloadService } from '../src/services/download';
import { Limiter, type EndTurn } from '../src/services/limiter';
import type { FakeAction } from './fixtures/fake-bridge';
import { delay, eventually, startFakeBridge } from './helpers';
import { heldFetch } from './spy-fetch';
import { test } from './timed-test';

/** Lets the queued callbacks and promise reactions run. */
const settle = () => delay(20);

describe('Limiter', () => {
  test('runs at most its limit at once; the waiting start in the order they asked as others end', async () => {
    const turns = new Limiter(2);
    const started: number[] = [];
    const ends = new Map<number, EndTurn>();
    for (let task = 0; task < 6; task++) {
      void turns.turn().then((end) => {
        started.push(task);
        ends.set(task, end!);
      });
    }
    await settle();
    assert.deepEqual([started, turns.active, turns.queued], [[0, 1], 2, 4]);
    for (const [ending, expected] of [[1, [0, 1, 2]], [0, [0, 1, 2, 3]], [3, [0, 1, 2, 3, 4]], [2, [0, 1, 2, 3, 4, 5]]] as const) {
      ends.get(ending)!();
      await settle();
      assert.deepEqual(started, expected, `after task ${ending} ended`);
      assert.ok(turns.active <= 2);
    }
    for (const end of ends.values()) end();
    assert.deepEqual([turns.active, turns.queued], [0, 0]);
  });

  test('a task whose signal aborts while it waits leaves the queue at once; one already aborted never waits', async () => {
    const turns = new Limiter(1);
    const first = (await turns.turn())!;
    const gone = new AbortController();
    const waiting = turns.turn(gone.signal);
    const next = turns.turn();
    assert.equal(turns.queued, 2);
    gone.abort();
    assert.equal(await waiting, undefined);
    assert.equal(turns.queued, 1);
    assert.equal(await turns.turn(AbortSignal.abort()), undefined);
    first();
    const second = await next;
    assert.equal(typeof second, 'function');
    assert.deepEqual([turns.active, turns.queued], [1, 0]);
  });

  test('ending a turn twice frees one place only', async () => {
    const turns = new Limiter(1);
    const first = (await turns.turn())!;
    const admitted: number[] = [];
    void turns.turn().then(() => admitted.push(1));
    void turns.turn().then(() => admitted.push(2));
    first();
    first();
    await settle();
    assert.deepEqual([admitted, turns.active, turns.queued], [[1], 1, 1]);
  });
});

describe('limits of the download service and the bridge', () => {
  let folder: string;
  before(async () => {
    folder = await mkdtemp(join(tmpdir(), 'limits-'));
  });
  after(() => rm(folder, { recursive: true, force: true }));

  function service(maxConcurrent: number) {
    const held = heldFetch();
    const reports: DownloadProgressParams[] = [];
    const downloads = new DownloadService({
      fetch: held.fetch,
      folders: () => [folder],
      stallTimeoutMs: 5_000,
      maxBytes: 1 << 20,
      maxConcurrent,
      crossOriginRedirects: true,
      allowedUrlSchemes: ['http:'],
      progressIntervalMs: 0,
      report: (params) => reports.push(params),
      activity: () => undefined,
    });
    let count = 0;
    const start = (name: string) => {
      count += 1;
      return downloads.start({ url: `http://site.test/${name}`, path: join(folder, `${count}-${name}`), sdkTaskId: count, sdkData: name }, name);
    };
    const fetched = () => held.calls.map((call) => call.url.slice('http://site.test/'.length));
    return { downloads, held, reports, start, fetched };
  }

  test('downloads: at most the limit fetch at once, and the waiting start in order as others end', async () => {
    const { held, reports, start, fetched } = service(2);
    const all = ['a', 'b', 'c', 'd', 'e'].map(start);
    await eventually(() => held.calls.length === 2);
    await settle();
    // The two that run together reach the fetch in either order; the waiting ones start one by one.
    assert.deepEqual(fetched().sort(), ['a', 'b']);
    held.calls[1].release();
    await eventually(() => held.calls.length === 3);
    held.calls[0].release();
    await eventually(() => held.calls.length === 4);
    assert.deepEqual(fetched().slice(2), ['c', 'd']);
    held.calls[3].release();
    held.calls[2].release();
    await eventually(() => held.calls.length === 5);
    held.calls[4].release();
    await Promise.all(all);
    assert.equal(held.mostInFlight, 2);
    assert.deepEqual(reports.filter((report) => report.isFinish).map((report) => [report.sdkData, report.result]).sort(), [
      ['a', 0], ['b', 0], ['c', 0], ['d', 0], ['e', 0],
    ]);
  });

  test('a waiting download that the library cancels leaves the queue at once and never fetches', async () => {
    const { downloads, held, reports, start, fetched } = service(1);
    const running = start('running');
    const cancelled = start('cancelled');
    const after = start('after');
    await eventually(() => held.calls.length === 1);
    assert.equal(await downloads.cancel(2), 1);
    await cancelled;
    assert.equal(downloads.running, 2);
    held.calls[0].release();
    await running;
    await eventually(() => held.calls.length === 2);
    held.calls[1].release();
    await after;
    assert.deepEqual(fetched(), ['running', 'after']);
    assert.deepEqual(reports.filter((report) => report.sdkData === 'cancelled'), []);
  });

  test('stopAll ends the waiting downloads without fetching them', async () => {
    const { downloads, held, reports, start, fetched } = service(1);
    const all = ['running', 'waiting-1', 'waiting-2'].map(start);
    await eventually(() => held.calls.length === 1);
    await downloads.stopAll();
    await Promise.all(all);
    await settle();
    assert.deepEqual(fetched(), ['running']);
    assert.deepEqual([reports.filter((report) => report.isFinish), downloads.running], [[], 0]);
  });

  /** The answers the fake bridge received, echoed back as log lines. */
  function received(bridge: MorvaneBridge) {
    const events: { method: string; id: string; params: Record<string, any> }[] = [];
    bridge.on('log', (line) => {
      if (line.startsWith('{')) events.push(JSON.parse(line));
    });
    return events;
  }

  const httpRequests = (count: number): FakeAction[] =>
    Array.from({ length: count }, (_, index) => ({
      reverse: { id: String(index), method: 'httpRequest', params: { url: `http://site.test/${index}`, method: 'GET', headers: {}, body: '', sdkTaskId: index, sdkData: String(index) } },
    }));

  test('through the bridge: HTTP exchanges and downloads each wait for a place; every request is answered', async () => {
    const held = heldFetch();
    const downloadRequests: FakeAction[] = ['x', 'y'].map((name, index) => ({
      reverse: { id: `d${index}`, method: 'downloadFile', params: { url: `http://site.test/${name}`, path: join(folder, `bridge-${name}`), sdkTaskId: 100 + index, sdkData: name } },
    }));
    const bridge = await startFakeBridge(
      { echoEvents: true, onConnect: [...httpRequests(5), ...downloadRequests] },
      { fetch: held.fetch, maxConcurrentHttpRequests: 2, maxConcurrentDownloads: 1, downloadDirs: [folder] },
    );
    try {
      const events = received(bridge);
      const urls = () => held.calls.map((call) => call.url.slice('http://site.test/'.length));
      await eventually(() => held.calls.length === 3);
      await settle();
      assert.deepEqual(urls(), ['0', '1', 'x']);
      held.calls[1].release();
      await eventually(() => held.calls.length === 4);
      assert.equal(urls()[3], '2');
      held.calls[2].release();
      await eventually(() => held.calls.length === 5);
      assert.equal(urls()[4], 'y');
      for (let released = 0; released < 7; released++) {
        await eventually(() => held.calls.length > released);
        held.calls[released].release();
      }
      await eventually(() => events.filter((event) => event.method === 'httpRequest' || event.params.isFinish).length === 7);
      assert.deepEqual(urls(), ['0', '1', 'x', '2', 'y', '3', '4']);
      assert.equal(held.mostInFlight, 3);
      assert.ok(events.every((event) => event.params.result === 0));
    } finally {
      await bridge.close();
    }
  });

  test('through the bridge: close() ends the waiting requests and downloads without fetching them', async () => {
    const held = heldFetch();
    const downloadRequests: FakeAction[] = ['x', 'y'].map((name, index) => ({
      reverse: { id: `d${index}`, method: 'downloadFile', params: { url: `http://site.test/${name}`, path: join(folder, `closed-${name}`), sdkTaskId: 200 + index, sdkData: name } },
    }));
    const bridge = await startFakeBridge(
      { onConnect: [...httpRequests(3), ...downloadRequests] },
      { fetch: held.fetch, maxConcurrentHttpRequests: 1, maxConcurrentDownloads: 1, downloadDirs: [folder] },
    );
    await eventually(() => held.calls.length === 2);
    await bridge.close();
    await settle();
    assert.deepEqual(held.calls.map((call) => call.url), ['http://site.test/0', 'http://site.test/x']);
    assert.equal(held.inFlight, 0);
  });
});
