import assert from 'node:assert/strict';
import { createHash } from 'node:crypto';
import { access, mkdtemp, readFile, rm } from 'node:fs/promises';
import type { Server } from 'node:http';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, before, describe, test } from 'node:test';
import type { DownloadProgressParams } from '../src/protocol';
import { DownloadService, type DownloadActivity, type DownloadServiceOptions } from '../src/services/download';
import { delay, eventually, refusedUrl, startHttpServer, stopHttpServer } from './helpers';

const fileSize = 1024 * 1024;
const content = Buffer.alloc(fileSize, 0).map((_, index) => (index * 31) % 251);

async function exists(path: string): Promise<boolean> {
  return access(path).then(
    () => true,
    () => false,
  );
}

describe('DownloadService', () => {
  let server: Server;
  let base: string;
  let folder: string;
  let count = 0;
  before(async () => {
    folder = await mkdtemp(join(tmpdir(), 'download-test-'));
    ({ server, url: base } = await startHttpServer(async (req, res) => {
      const chunk = 64 * 1024;
      switch (req.url) {
        case '/missing':
          res.writeHead(404).end('no such package');
          return;
        case '/short':
          res.writeHead(200, { 'content-length': String(fileSize) });
          res.write(content.subarray(0, 1000));
          setTimeout(() => res.socket?.destroy(), 20);
          return;
        case '/stall':
          res.writeHead(200, { 'content-length': String(fileSize) });
          res.write(content.subarray(0, 1000));
          return;
        default: {
          // Paced so that a download takes a while and can be watched and cancelled.
          const pace = req.url === '/slow' ? 100 : 5;
          res.writeHead(200, { 'content-length': String(fileSize) });
          for (let offset = 0; offset < fileSize && !res.destroyed; offset += chunk) {
            res.write(content.subarray(offset, offset + chunk));
            await delay(pace);
          }
          res.end();
        }
      }
    }));
  });
  after(async () => {
    await stopHttpServer(server);
    await rm(folder, { recursive: true, force: true });
  });

  function service(options: Partial<DownloadServiceOptions> = {}) {
    const reports: DownloadProgressParams[] = [];
    const requestIds: string[] = [];
    const activities: DownloadActivity[] = [];
    const downloads = new DownloadService({
      fetch: (input, init) => fetch(input, init),
      stallTimeoutMs: 5_000,
      progressIntervalMs: 0,
      report: (params, requestId) => {
        reports.push(params);
        requestIds.push(requestId);
      },
      activity: (activity) => activities.push(activity),
      ...options,
    });
    return { downloads, reports, requestIds, activities };
  }

  function target(name: string) {
    count += 1;
    return join(folder, `${count}`, name);
  }

  test('streams the file to the path and reports progress, then the end', async () => {
    const { downloads, reports, requestIds, activities } = service();
    const path = target('driver.zip');
    await downloads.start({ url: `${base}/file`, path, sdkTaskId: -4, sdkData: '18446744073709551615' }, '12');

    const written = await readFile(path);
    assert.equal(createHash('md5').update(written).digest('hex'), createHash('md5').update(content).digest('hex'));
    const final = reports.at(-1)!;
    assert.deepEqual(final, {
      sdkTaskId: -4, progress: 100, isFinish: true, result: 0, httpStatusCode: 200, errorMsg: '', sdkData: '18446744073709551615',
    });
    const steps = reports.slice(0, -1);
    assert.ok(steps.length >= 3, `only ${steps.length} progress reports`);
    for (const [index, step] of steps.entries()) {
      assert.equal(step.isFinish, false);
      assert.ok(step.progress > (steps[index - 1]?.progress ?? 0) && step.progress < 100, `progress ${step.progress}`);
    }
    assert.ok(requestIds.every((id) => id === '12'));
    assert.deepEqual([activities[0].kind, activities.at(-1)!.kind], ['started', 'finished']);
    assert.equal(activities.at(-1)!.receivedBytes, fileSize);
    assert.equal(activities.at(-1)!.totalBytes, fileSize);
  });

  test('reports progress no more often than the interval allows', async () => {
    const { downloads, reports } = service({ progressIntervalMs: 60_000 });
    await downloads.start({ url: `${base}/file`, path: target('driver.zip'), sdkTaskId: 1, sdkData: '1' }, '1');
    assert.deepEqual(reports.map((report) => report.isFinish), [true]);
  });

  test('a slow download still reports now and then, so the library knows it is alive', async () => {
    const { downloads, reports } = service({ progressIntervalMs: 60_000, heartbeatMs: 150 });
    await downloads.start({ url: `${base}/slow`, path: target('driver.zip'), sdkTaskId: 1, sdkData: '1' }, '1');
    const steps = reports.slice(0, -1);
    assert.ok(steps.length >= 3, `only ${steps.length} progress reports`);
    assert.ok(steps.every((step, index) => !step.isFinish && step.progress < 100 && step.progress >= (steps[index - 1]?.progress ?? 0)));
    assert.equal(reports.at(-1)!.isFinish, true);
  });

  const failures: { name: string; url: () => Promise<string>; stallTimeoutMs?: number; result: number; status: number; message: RegExp }[] = [
    { name: 'an HTTP error status', url: async () => `${base}/missing`, result: -3001, status: 404, message: /HTTP 404/ },
    { name: 'a connection that ends early', url: async () => `${base}/short`, result: -3001, status: 200, message: /./ },
    { name: 'a stalled transfer', url: async () => `${base}/stall`, stallTimeoutMs: 300, result: -3000, status: 200, message: /no data for 300 ms/ },
    { name: 'a refused connection', url: refusedUrl, result: -3001, status: 0, message: /ECONNREFUSED/ },
  ];
  for (const failure of failures) {
    test(`a failure is reported once and leaves no file: ${failure.name}`, async () => {
      const { downloads, reports, activities } = service(
        failure.stallTimeoutMs === undefined ? {} : { stallTimeoutMs: failure.stallTimeoutMs },
      );
      const path = target('driver.zip');
      await downloads.start({ url: await failure.url(), path, sdkTaskId: 3, sdkData: '99' }, '5');
      const finals = reports.filter((report) => report.isFinish);
      assert.equal(finals.length, 1);
      assert.equal(reports.at(-1), finals[0]);
      assert.equal(finals[0].result, failure.result);
      assert.equal(finals[0].httpStatusCode, failure.status);
      assert.match(finals[0].errorMsg, failure.message);
      assert.equal(finals[0].sdkData, '99');
      assert.equal(await exists(path), false);
      assert.equal(activities.at(-1)!.kind, 'failed');
    });
  }

  test('a cancel stops the download, removes the partial file and reports nothing more', async () => {
    const { downloads, reports, activities } = service();
    const path = target('driver.zip');
    const running = downloads.start({ url: `${base}/slow`, path, sdkTaskId: 9, sdkData: '0' }, '2');
    await eventually(() => activities.some((activity) => activity.kind === 'progress'));
    assert.equal(await exists(path), true);
    assert.equal(await downloads.cancel(9), 1);
    await running;
    assert.equal(await exists(path), false);
    assert.ok(reports.every((report) => !report.isFinish));
    assert.equal(activities.at(-1)!.kind, 'cancelled');
    assert.equal(downloads.running, 0);
  });

  test('a cancel for another task leaves running downloads alone', async () => {
    const { downloads, reports } = service();
    const running = downloads.start({ url: `${base}/file`, path: target('driver.zip'), sdkTaskId: 10, sdkData: '0' }, '3');
    assert.equal(await downloads.cancel(11), 0);
    await running;
    assert.equal(reports.at(-1)!.result, 0);
  });

  test('stopAll silences every download and removes their files', async () => {
    const { downloads, reports } = service();
    const paths = [target('a.zip'), target('b.zip')];
    const running = paths.map((path, index) => downloads.start({ url: `${base}/slow`, path, sdkTaskId: index, sdkData: '0' }, `${index}`));
    await eventually(async () => (await Promise.all(paths.map(exists))).every(Boolean));
    await downloads.stopAll();
    await Promise.all(running);
    assert.deepEqual(await Promise.all(paths.map(exists)), [false, false]);
    assert.ok(reports.every((report) => !report.isFinish));
  });
});
