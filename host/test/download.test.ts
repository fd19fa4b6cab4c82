import assert from 'node:assert/strict';
import { createHash } from 'node:crypto';
import { access, chmod, chown, mkdir, mkdtemp, readdir, readFile, rename, rm, stat, symlink, writeFile } from 'node:fs/promises';
import type { Server } from 'node:http';
import { tmpdir } from 'node:os';
import path, { join } from 'node:path';
import { after, before, describe } from 'node:test';
import { gzipSync } from 'node:zlib';
import type { DownloadProgressParams } from '../src/protocol';
import { DownloadService, type DownloadActivity, type DownloadServiceOptions } from '../src/services/download';
import { isInside } from '../src/services/download-folders';
import type { FetchLike } from '../src/services/fetch';
import { acceptedWindowsNames, refusedWindowsNames } from './fixtures/windows-names';
import { delay, eventually, refusedUrl, startHttpServer, stopHttpServer } from './helpers';
import { test } from './timed-test';
import { underWine } from './wine';

const fileSize = 1024 * 1024;
const content = Buffer.alloc(fileSize, 0).map((_, index) => (index * 31) % 251);

async function exists(path: string): Promise<boolean> {
  return access(path).then(
    () => true,
    () => false,
  );
}

function md5(bytes: Uint8Array): string {
  return createHash('md5').update(bytes).digest('hex');
}

describe('DownloadService', () => {
  let server: Server;
  let base: string;
  let other: Server;
  let elsewhere: string;
  let work: string;
  let folder: string;
  let count = 0;
  const requestHeaders: Record<string, string | string[] | undefined>[] = [];
  before(async () => {
    work = await mkdtemp(join(tmpdir(), 'download-test-'));
    // Another origin: the same host on another port.
    ({ server: other, url: elsewhere } = await startHttpServer(async (_req, res) => {
      res.writeHead(200, { 'content-length': String(fileSize) }).end(content);
    }));
    // Folders another user could write are refused: the ones made here must be private whatever
    // the umask of the one who runs the tests.
    process.umask(0o022);
    folder = join(work, 'dl');
    await mkdir(folder, { mode: 0o700 });
    ({ server, url: base } = await startHttpServer(async (req, res) => {
      requestHeaders.push(req.headers);
      const chunk = 64 * 1024;
      switch (req.url) {
        case '/missing':
          res.writeHead(404).end('no such package');
          return;
        case '/unannounced':
          res.writeHead(200);
          res.end(content);
          return;
        case '/to-here':
          res.writeHead(302, { location: '/file' }).end();
          return;
        case '/to-elsewhere':
          res.writeHead(302, { location: `${elsewhere}/file` }).end();
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
        case '/gzip-always': {
          // A server that compresses whatever the client asked for.
          const packed = gzipSync(content);
          res.writeHead(200, { 'content-encoding': 'gzip', 'content-length': String(packed.length) }).end(packed);
          return;
        }
        case '/gzip-if-asked': {
          if (/\bgzip\b/.test(req.headers['accept-encoding'] ?? '')) {
            const packed = gzipSync(content);
            res.writeHead(200, { 'content-encoding': 'gzip', 'content-length': String(packed.length) }).end(packed);
          } else {
            res.writeHead(200, { 'content-length': String(fileSize) }).end(content);
          }
          return;
        }
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
    await stopHttpServer(other);
    await rm(work, { recursive: true, force: true });
  });

  function service(options: Partial<DownloadServiceOptions> = {}) {
    const reports: DownloadProgressParams[] = [];
    const requestIds: string[] = [];
    const activities: DownloadActivity[] = [];
    const downloads = new DownloadService({
      fetch: (input, init) => fetch(input, init),
      folders: () => [folder],
      stallTimeoutMs: 5_000,
      maxBytes: 1 << 30,
      maxConcurrent: 4,
      crossOriginRedirects: true,
      allowedUrlSchemes: ['http:', 'https:'],
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

  /** A fresh path inside the download folder, in a subfolder that does not exist yet. */
  function target(name: string) {
    count += 1;
    return join(folder, `${count}`, name);
  }

  async function partialFiles(file: string): Promise<string[]> {
    const names = await readdir(path.dirname(file)).catch(() => [] as string[]);
    return names.filter((name) => name.endsWith('.part'));
  }

  test('streams the file to the path and reports progress, then the end', async () => {
    const { downloads, reports, requestIds, activities } = service();
    const path = target('driver.zip');
    await downloads.start({ url: `${base}/file`, path, sdkTaskId: -4, sdkData: '18446744073709551615' }, '12');

    assert.equal(md5(await readFile(path)), md5(content));
    assert.deepEqual(await partialFiles(path), []);
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

  test('the stall limit counts from the last data, not from the start', async () => {
    // '/slow' sends a chunk every 100 ms for 1.6 s in all: steady, though longer than the limit.
    const runs: { url: string; result: number }[] = [
      { url: '/slow', result: 0 },
      { url: '/stall', result: -3000 },
    ];
    for (const { url, result } of runs) {
      const { downloads, reports } = service({ stallTimeoutMs: 400 });
      await downloads.start({ url: `${base}${url}`, path: target('driver.zip'), sdkTaskId: 1, sdkData: '1' }, '1');
      assert.equal(reports.at(-1)!.result, result, `${url}: ${reports.at(-1)!.errorMsg}`);
    }
  });

  test('a compressed body is stored as sent, without a false length mismatch', async () => {
    for (const url of ['/gzip-if-asked', '/gzip-always']) {
      const { downloads, reports } = service();
      const path = target('driver.zip');
      requestHeaders.length = 0;
      await downloads.start({ url: `${base}${url}`, path, sdkTaskId: 1, sdkData: '1' }, '1');
      assert.equal(requestHeaders[0]['accept-encoding'], 'identity', url);
      assert.deepEqual([reports.at(-1)!.result, reports.at(-1)!.errorMsg], [0, ''], url);
      assert.equal(md5(await readFile(path)), md5(content), url);
    }
  });

  // A fetch of the caller's own that hands over fewer bytes than it announces, and ends cleanly.
  const shortBodyFetch: FetchLike = async () =>
    new Response(content.subarray(0, 10), { status: 200, headers: { 'content-length': '1000' } });

  const failures: {
    name: string;
    url: () => Promise<string>;
    fetch?: FetchLike;
    maxBytes?: number;
    crossOriginRedirects?: boolean;
    stallTimeoutMs?: number;
    result: number;
    status: number;
    message: RegExp;
  }[] = [
    { name: 'an HTTP error status', url: async () => `${base}/missing`, result: -3001, status: 404, message: /HTTP 404/ },
    { name: 'a connection that ends early', url: async () => `${base}/short`, result: -3001, status: 200, message: /./ },
    { name: 'a stalled transfer', url: async () => `${base}/stall`, stallTimeoutMs: 300, result: -3000, status: 200, message: /no data for 300 ms/ },
    { name: 'a refused connection', url: refusedUrl, result: -3001, status: 0, message: /ECONNREFUSED/ },
    { name: 'an announced length past the limit', url: async () => `${base}/file`, maxBytes: fileSize - 1, result: -3001, status: 200, message: /larger than the limit/ },
    { name: 'more bytes than the limit, unannounced', url: async () => `${base}/unannounced`, maxBytes: fileSize - 1, result: -3001, status: 200, message: /larger than the limit/ },
    { name: 'a redirect to another origin, not allowed', url: async () => `${base}/to-elsewhere`, crossOriginRedirects: false, result: -3001, status: 0, message: /another origin/ },
    {
      name: 'a fetch whose body ends short of its length',
      url: async () => `${base}/anything`,
      fetch: shortBodyFetch,
      result: -3001,
      status: 200,
      message: /after 10 of 1000 bytes/,
    },
  ];
  for (const failure of failures) {
    test(`a failure is reported once and leaves an existing file as it was: ${failure.name}`, async () => {
      const { downloads, reports, activities } = service({
        ...(failure.stallTimeoutMs === undefined ? {} : { stallTimeoutMs: failure.stallTimeoutMs }),
        ...(failure.fetch === undefined ? {} : { fetch: failure.fetch }),
        ...(failure.maxBytes === undefined ? {} : { maxBytes: failure.maxBytes }),
        ...(failure.crossOriginRedirects === undefined ? {} : { crossOriginRedirects: failure.crossOriginRedirects }),
      });
      const path = target('driver.zip');
      await mkdir(join(path, '..'), { recursive: true });
      await writeFile(path, 'the package downloaded last week');
      await downloads.start({ url: await failure.url(), path, sdkTaskId: 3, sdkData: '99' }, '5');
      const finals = reports.filter((report) => report.isFinish);
      assert.equal(finals.length, 1);
      assert.equal(reports.at(-1), finals[0]);
      assert.equal(finals[0].result, failure.result);
      assert.equal(finals[0].httpStatusCode, failure.status);
      assert.match(finals[0].errorMsg, failure.message);
      assert.equal(finals[0].sdkData, '99');
      assert.equal(await readFile(path, 'utf8'), 'the package downloaded last week');
      assert.deepEqual(await partialFiles(path), []);
      assert.equal(activities.at(-1)!.kind, 'failed');
    });
  }

  test('a download of exactly the limit, and redirects allowed by the policy, succeed', async () => {
    const cases: { url: string; options: Partial<DownloadServiceOptions> }[] = [
      { url: `${base}/file`, options: { maxBytes: fileSize } },
      { url: `${base}/unannounced`, options: { maxBytes: fileSize } },
      { url: `${base}/to-here`, options: { crossOriginRedirects: false } },
      { url: `${base}/to-elsewhere`, options: { crossOriginRedirects: true } },
    ];
    for (const { url, options } of cases) {
      const { downloads, reports } = service(options);
      const path = target('driver.zip');
      await downloads.start({ url, path, sdkTaskId: 12, sdkData: '12' }, '12');
      assert.deepEqual([reports.at(-1)!.result, reports.at(-1)!.errorMsg], [0, ''], url);
      assert.equal(md5(await readFile(path)), md5(content), url);
    }
  });

  test('a success replaces an existing file only once the whole body is there', async () => {
    const { downloads, activities } = service();
    const path = target('driver.zip');
    await mkdir(join(path, '..'), { recursive: true });
    await writeFile(path, 'old');
    const running = downloads.start({ url: `${base}/slow`, path, sdkTaskId: 2, sdkData: '0' }, '2');
    await eventually(() => activities.some((activity) => activity.kind === 'progress'));
    assert.equal(await readFile(path, 'utf8'), 'old');
    await running;
    assert.equal(md5(await readFile(path)), md5(content));
    assert.deepEqual(await partialFiles(path), []);
  });

  test('a cancel stops the download, removes its temporary file, keeps an existing file and reports nothing more', async () => {
    const { downloads, reports, activities } = service();
    const path = target('driver.zip');
    await mkdir(join(path, '..'), { recursive: true });
    await writeFile(path, 'old');
    const running = downloads.start({ url: `${base}/slow`, path, sdkTaskId: 9, sdkData: '0' }, '2');
    await eventually(() => activities.some((activity) => activity.kind === 'progress'));
    assert.equal((await partialFiles(path)).length, 1);
    assert.deepEqual(downloads.partialFiles().map((file) => file.startsWith(`${path}.`)), [true]);
    assert.equal(await downloads.cancel(9), 1);
    await running;
    assert.equal(await readFile(path, 'utf8'), 'old');
    assert.deepEqual(await partialFiles(path), []);
    assert.deepEqual(downloads.partialFiles(), []);
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

  test('stopAll silences every download and removes their temporary files', async () => {
    const { downloads, reports } = service();
    const paths = [target('a.zip'), target('b.zip')];
    const running = paths.map((path, index) => downloads.start({ url: `${base}/slow`, path, sdkTaskId: index, sdkData: '0' }, `${index}`));
    await eventually(async () => (await Promise.all(paths.map(partialFiles))).every((files) => files.length === 1));
    await downloads.stopAll();
    await Promise.all(running);
    assert.deepEqual(await Promise.all(paths.map(partialFiles)), [[], []]);
    assert.deepEqual(await Promise.all(paths.map(exists)), [false, false]);
    assert.ok(reports.every((report) => !report.isFinish));
  });

  describe('where a download may write', () => {
    let outside: string;
    before(async () => {
      outside = join(work, 'outside');
      await mkdir(outside);
      await symlink(outside, join(folder, 'link-out'));
      await symlink(folder, join(work, 'alias-of-dl'));
    });

    const skipLinks = { skip: underWine && 'Wine makes no symbolic links: symlink returns, yet nothing is there' };
    const refused: { name: string; path: () => string; folders?: () => string[]; reason: RegExp; link?: boolean }[] = [
      { name: 'a relative path', path: () => 'dl/driver.zip', reason: /not an absolute path/ },
      { name: 'a path that climbs out with ..', path: () => join(folder, 'sub', '..', '..', 'escape.bin'), reason: /outside the download folders/ },
      { name: 'a sibling folder that shares the prefix', path: () => `${folder}-evil/driver.zip`, reason: /outside/ },
      { name: 'a path through a link that leads outside', path: () => join(folder, 'link-out', 'driver.zip'), reason: /outside/, link: true },
      { name: 'the download folder itself', path: () => folder, reason: /outside/ },
      { name: 'a path with a NUL byte', path: () => join(folder, 'a\0b.zip'), reason: /NUL byte/ },
      { name: 'any path while no folder is allowed', path: () => join(folder, 'driver.zip'), folders: () => [], reason: /no download folder is allowed/ },
    ];
    for (const { name, path: requested, folders, reason, link } of refused) {
      test(`refuses ${name}, writing nothing`, link ? skipLinks : {}, async () => {
        const { downloads, reports, activities } = service(folders === undefined ? {} : { folders });
        requestHeaders.length = 0;
        await downloads.start({ url: `${base}/file`, path: requested(), sdkTaskId: 6, sdkData: '6' }, '6');
        assert.equal(reports.length, 1);
        assert.deepEqual([reports[0].isFinish, reports[0].result, reports[0].httpStatusCode], [true, -1000, 0]);
        assert.match(reports[0].errorMsg, reason);
        assert.ok(reports[0].errorMsg.includes(requested().replace(/\0/g, '\\0')), reports[0].errorMsg);
        assert.equal(activities.at(-1)!.kind, 'failed');
        assert.equal(requestHeaders.length, 0);
        assert.deepEqual(await readdir(outside), []);
        assert.equal(await exists(join(work, 'escape.bin')), false);
        assert.equal(await exists(`${folder}-evil`), false);
      });
    }

    // A folder on the download's path replaced by a link to a folder outside after the path was
    // checked: before the download starts writing, or while it writes.
    const swaps: { name: string; fetchFor: (swap: () => Promise<void>, elsewhere: string) => FetchLike }[] = [
      {
        // The body looks outside while it streams: nothing may be written there even for a while.
        name: 'before the file is opened',
        fetchFor: (swap, elsewhere) => async () => {
          await swap();
          let pulls = 0;
          const body = new ReadableStream<Uint8Array>({
            async pull(controller) {
              pulls += 1;
              if (pulls === 2) assert.deepEqual(await readdir(elsewhere), [], 'written outside while streaming');
              if (pulls <= 2) controller.enqueue(content.subarray(0, 100));
              else controller.close();
            },
          });
          return new Response(body, { status: 200, headers: { 'content-length': '200' } });
        },
      },
      {
        name: 'while the body arrives',
        fetchFor: (swap) => async () => {
          let pulls = 0;
          const body = new ReadableStream<Uint8Array>({
            async pull(controller) {
              pulls += 1;
              if (pulls === 2) await swap();
              if (pulls <= 2) controller.enqueue(content.subarray(0, 100));
              else controller.close();
            },
          });
          return new Response(body, { status: 200, headers: { 'content-length': '200' } });
        },
      },
    ];
    for (const { name, fetchFor } of swaps) {
      test(`refuses a download whose folder is swapped for a link to outside ${name}, leaving nothing outside`, skipLinks, async () => {
        const sub = join(folder, `swapped-${count++}`);
        const elsewhere = await mkdtemp(join(work, 'elsewhere-'));
        await mkdir(sub);
        await writeFile(join(sub, 'driver.zip'), 'old');
        const swap = async () => {
          await rename(sub, `${sub}-moved`);
          await symlink(elsewhere, sub);
        };
        const { downloads, reports } = service({ fetch: fetchFor(swap, elsewhere) });
        await downloads.start({ url: `${base}/file`, path: join(sub, 'driver.zip'), sdkTaskId: 8, sdkData: '8' }, '8');
        assert.deepEqual([reports.at(-1)!.isFinish, reports.at(-1)!.result], [true, -1000], reports.at(-1)!.errorMsg);
        assert.match(reports.at(-1)!.errorMsg, /replaced/);
        assert.deepEqual(await readdir(elsewhere), []);
        assert.deepEqual(await readdir(`${sub}-moved`), ['driver.zip']);
        assert.equal(await readFile(join(`${sub}-moved`, 'driver.zip'), 'utf8'), 'old');
      });
    }

    const accepted: { name: string; path: () => string; folders: () => string[]; link?: boolean }[] = [
      { name: 'a new subfolder', path: () => join(folder, 'new', 'deeper', 'driver.zip'), folders: () => [folder] },
      { name: 'a folder given through a link', path: () => join(folder, 'via-alias.zip'), folders: () => [join(work, 'alias-of-dl')], link: true },
      { name: 'a path through a link to the folder', path: () => join(work, 'alias-of-dl', 'via-link.zip'), folders: () => [folder], link: true },
      { name: 'the second of several folders', path: () => join(outside, 'second.zip'), folders: () => [folder, outside] },
    ];
    for (const { name, path: requested, folders, link } of accepted) {
      test(`accepts ${name}`, link ? skipLinks : {}, async () => {
        const { downloads, reports } = service({ folders });
        await downloads.start({ url: `${base}/file`, path: requested(), sdkTaskId: 7, sdkData: '7' }, '7');
        assert.deepEqual([reports.at(-1)!.result, reports.at(-1)!.errorMsg], [0, '']);
        assert.equal(md5(await readFile(requested())), md5(content));
      });
    }
  });

  describe('Windows path rules', () => {
    // Applied by process.platform on Windows; elsewhere the internal option applies them.
    const windows: Partial<DownloadServiceOptions> = process.platform === 'win32' ? {} : { platform: 'win32' };
    const fullPaths = (): string[] =>
      process.platform === 'win32'
        ? [`\\\\?\\${folder}\\driver.zip`, `\\\\.\\${folder}\\driver.zip`, `//?/${folder}/driver.zip`, '\\\\localhost\\C$\\driver.zip']
        : [];

    test('refuses names Windows reads as devices, streams or trimmed names, quoting the path, before anything is made or fetched', async () => {
      const requested = [...refusedWindowsNames.map(({ name }) => join(folder, name)), ...fullPaths()];
      const before = (await readdir(folder)).sort();
      const wrong: string[] = [];
      for (const path of requested) {
        const fetched: string[] = [];
        const { downloads, reports } = service({
          ...windows,
          fetch: (input, init) => {
            fetched.push(String(input));
            return fetch(input, init);
          },
        });
        await downloads.start({ url: `${base}/file`, path, sdkTaskId: 20, sdkData: '20' }, '20');
        const [only, ...more] = reports;
        const refused = more.length === 0 && only?.isFinish && only.result === -1000 && only.errorMsg.includes(path);
        if (!refused || fetched.length > 0) wrong.push(`${JSON.stringify(path)}: ${JSON.stringify(reports)}, fetched ${fetched.length}`);
      }
      assert.deepEqual(wrong, []);
      assert.deepEqual((await readdir(folder)).sort(), before);
    });

    test('accepts look-alikes of reserved names', async () => {
      const sub = join(folder, `look-alikes-${count++}`);
      const wrong: string[] = [];
      for (const name of acceptedWindowsNames) {
        const { downloads, reports } = service(windows);
        const path = join(sub, name);
        await downloads.start({ url: `${base}/file`, path, sdkTaskId: 21, sdkData: '21' }, '21');
        if (reports.at(-1)?.result !== 0) wrong.push(`${JSON.stringify(name)}: ${reports.at(-1)?.errorMsg}`);
        else if (md5(await readFile(path)) !== md5(content)) wrong.push(`${JSON.stringify(name)}: not the content`);
      }
      assert.deepEqual(wrong, []);
    });
  });

  describe('folders other users could swap', { skip: process.platform === 'win32' && 'Windows has no mode bits to read' }, () => {
    const notRoot = process.getuid?.() !== 0 && 'giving a folder to another user needs root';
    const stranger = 12345;
    type Layout = { allowed: string; below: string; culprit: string };
    // Each case builds base/above/dl (the allowed folder) and base/above/dl/sub/deeper, then spoils one.
    const layout = async (): Promise<Layout & { above: string }> => {
      const base = await mkdtemp(join(work, 'safety-'));
      const above = join(base, 'above');
      const allowed = join(above, 'dl');
      const below = join(allowed, 'sub', 'deeper');
      await mkdir(below, { recursive: true });
      for (const each of [above, allowed, join(allowed, 'sub'), below]) await chmod(each, 0o700);
      return { above, allowed, below, culprit: '' };
    };
    const unsafe: { name: string; spoil: (layout: Layout & { above: string }) => Promise<string>; reason: RegExp; root?: boolean }[] = [
      { name: 'a folder inside writable by everyone', spoil: async ({ allowed }) => chmodded(join(allowed, 'sub'), 0o777), reason: /can be written by other users \(mode 0777\)/ },
      { name: 'a folder inside writable by its group', spoil: async ({ below }) => chmodded(below, 0o770), reason: /can be written by other users \(mode 0770\)/ },
      { name: 'a sticky folder inside writable by everyone', spoil: async ({ allowed }) => chmodded(join(allowed, 'sub'), 0o1777), reason: /can be written by other users \(mode 1777\)/ },
      { name: 'a folder inside owned by another user', spoil: async ({ below }) => chowned(below), reason: /belongs to another user \(uid 12345\)/, root: true },
      { name: 'the allowed folder writable by everyone', spoil: async ({ allowed }) => chmodded(allowed, 0o777), reason: /can be written by other users/ },
      { name: 'the allowed folder writable by everyone, even sticky', spoil: async ({ allowed }) => chmodded(allowed, 0o1777), reason: /can be written by other users/ },
      { name: 'the allowed folder owned by another user', spoil: async ({ allowed }) => chowned(allowed), reason: /belongs to another user/, root: true },
      { name: 'a folder above the allowed one writable by everyone, not sticky', spoil: async ({ above }) => chmodded(above, 0o777), reason: /can be written by other users \(mode 0777, not sticky\)/ },
      { name: 'a folder above the allowed one owned by another user', spoil: async ({ above }) => chowned(above), reason: /belongs to another user/, root: true },
    ];
    async function chmodded(folder: string, mode: number): Promise<string> {
      await chmod(folder, mode);
      return folder;
    }
    async function chowned(folder: string): Promise<string> {
      await chown(folder, stranger, stranger);
      return folder;
    }

    for (const { name, spoil, reason, root } of unsafe) {
      test(`refuses a download when ${name}, before anything is made or fetched`, root ? { skip: notRoot } : {}, async () => {
        const where = await layout();
        const culprit = await spoil(where);
        const path = join(where.below, 'new', 'driver.zip');
        const { downloads, reports } = service({ folders: () => [where.allowed] });
        requestHeaders.length = 0;
        await downloads.start({ url: `${base}/file`, path, sdkTaskId: 22, sdkData: '22' }, '22');
        assert.equal(reports.length, 1);
        assert.deepEqual([reports[0].isFinish, reports[0].result], [true, -1000]);
        assert.match(reports[0].errorMsg, reason);
        assert.ok(reports[0].errorMsg.includes(path) && reports[0].errorMsg.includes(`folder ${culprit} `), reports[0].errorMsg);
        assert.equal(requestHeaders.length, 0);
        assert.deepEqual(await readdir(where.below), []);
      });
    }

    test('accepts a private folder under a sticky one everyone can write (as /tmp is), and makes its own folders private', async () => {
      const where = await layout();
      await chmod(where.above, 0o1777);
      await chmod(where.allowed, 0o755);
      const path = join(where.below, 'new', 'newer', 'driver.zip');
      const { downloads, reports } = service({ folders: () => [where.allowed] });
      await downloads.start({ url: `${base}/file`, path, sdkTaskId: 23, sdkData: '23' }, '23');
      assert.deepEqual([reports.at(-1)!.result, reports.at(-1)!.errorMsg], [0, '']);
      const modes = await Promise.all([join(where.below, 'new'), join(where.below, 'new', 'newer')].map(async (made) => (await stat(made)).mode & 0o7777));
      assert.deepEqual(modes, [0o700, 0o700]);
    });

    test('refuses a folder someone else made between the check and the making of the missing folders', async () => {
      const where = await layout();
      const sub = join(where.below, 'theirs');
      const { downloads, reports } = service({
        folders: () => [where.allowed],
        // Played while the response is awaited: after the first check, before the folders are made.
        fetch: async (input, init) => {
          await mkdir(sub);
          await chmod(sub, 0o777);
          return fetch(input, init);
        },
      });
      await downloads.start({ url: `${base}/file`, path: join(sub, 'driver.zip'), sdkTaskId: 24, sdkData: '24' }, '24');
      assert.deepEqual([reports.at(-1)!.result, reports.at(-1)!.isFinish], [-1000, true]);
      assert.match(reports.at(-1)!.errorMsg, /can be written by other users/);
      assert.deepEqual(await readdir(sub), []);
    });
  });

  describe('a folder swapped after the last check', { skip: underWine && 'Wine makes no symbolic links, and Windows keeps a folder with an open file in place' }, () => {
    const hows: { name: string; swap: (sub: string, outside: string) => Promise<string> }[] = [
      {
        name: 'for a link to a folder outside',
        swap: async (sub, outside) => {
          await rename(sub, `${sub}-moved`);
          await symlink(outside, sub);
          return `${sub}-moved`;
        },
      },
      {
        name: 'by moving it outside and putting an empty folder in its place',
        swap: async (sub, outside) => {
          const moved = join(outside, 'taken');
          await rename(sub, moved);
          await mkdir(sub, { mode: 0o700 });
          return moved;
        },
      },
    ];
    const whens = ['beforePartialFile', 'beforeRename'] as const;
    for (const when of whens) {
      for (const { name, swap } of hows) {
        test(`fails with -1000 when the folder is swapped ${name} (${when}), writing nothing outside, leaving no file and an older one as it was`, async () => {
          const sub = join(folder, `swapped-late-${count++}`);
          const outside = await mkdtemp(join(work, 'outside-late-'));
          await mkdir(sub, { mode: 0o700 });
          await writeFile(join(sub, 'driver.zip'), 'old');
          let moved = '';
          // What this download put outside: anything but the folder moved there and its old file.
          const outsideNow = async () => [
            ...(await readdir(outside)).filter((entry) => entry !== 'taken'),
            ...(moved.startsWith(outside) ? (await readdir(moved)).filter((entry) => entry !== 'driver.zip') : []),
          ];
          const grown: string[][] = [];
          const { downloads, reports, activities } = service({
            [when]: async () => {
              moved = await swap(sub, outside);
            },
            // Looks outside while the body streams: nothing may be written there even for a while.
            fetch: async () => {
              let pulls = 0;
              const body = new ReadableStream<Uint8Array>({
                async pull(controller) {
                  pulls += 1;
                  if (pulls === 2 && moved !== '') grown.push(await outsideNow());
                  if (pulls <= 2) controller.enqueue(content.subarray(0, 100));
                  else controller.close();
                },
              });
              return new Response(body, { status: 200, headers: { 'content-length': '200' } });
            },
          });
          await downloads.start({ url: `${base}/file`, path: join(sub, 'driver.zip'), sdkTaskId: 25, sdkData: '25' }, '25');
          assert.deepEqual([reports.at(-1)!.isFinish, reports.at(-1)!.result], [true, -1000], reports.at(-1)!.errorMsg);
          assert.match(reports.at(-1)!.errorMsg, /replaced/);
          assert.equal(activities.at(-1)!.kind, 'failed');
          assert.ok(moved !== '', 'the swap ran');
          assert.ok(grown.every((entries) => entries.length === 0), `written outside while streaming: ${JSON.stringify(grown)}`);
          assert.deepEqual(await outsideNow(), []);
          assert.deepEqual(await readdir(sub), []);
          // Swapped before the partial file exists, the folder keeps its old file. Swapped just
          // before the rename, the rename replaces it; the download is then removed, not kept.
          assert.deepEqual(await readdir(moved), when === 'beforePartialFile' ? ['driver.zip'] : []);
          if (when === 'beforePartialFile') assert.equal(await readFile(join(moved, 'driver.zip'), 'utf8'), 'old');
        });
      }
    }
  });

  describe('something already at the partial file\'s name', () => {
    const suffix = 'feedf00d';
    const planted: { name: string; plant: (at: string, victim: string) => Promise<void>; skip?: string | false }[] = [
      { name: 'a link to a file outside', plant: (at, victim) => symlink(victim, at), skip: underWine && 'Wine makes no symbolic links' },
      { name: 'a file', plant: (at) => writeFile(at, 'someone else\'s partial file') },
    ];
    for (const { name, plant, skip } of planted) {
      test(`fails the download and leaves ${name} and what it leads to untouched`, { skip }, async () => {
        const sub = join(folder, `planted-${count++}`);
        await mkdir(sub, { mode: 0o700 });
        const path = join(sub, 'driver.zip');
        const victim = join(await mkdtemp(join(work, 'victim-')), 'precious.txt');
        await writeFile(victim, 'precious');
        const at = `${path}.${process.pid}-${suffix}.part`;
        await plant(at, victim);
        const { downloads, reports } = service({ partialSuffix: () => suffix });
        await downloads.start({ url: `${base}/file`, path, sdkTaskId: 26, sdkData: '26' }, '26');
        assert.deepEqual([reports.at(-1)!.isFinish, reports.at(-1)!.result], [true, -1000], reports.at(-1)!.errorMsg);
        assert.match(reports.at(-1)!.errorMsg, /already at the name of its temporary file/);
        assert.equal(await readFile(victim, 'utf8'), 'precious');
        assert.equal(await exists(path), false);
        assert.deepEqual(await readdir(sub), [path.slice(sub.length + 1) + `.${process.pid}-${suffix}.part`]);
      });
    }
  });
});

test('isInside compares whole path segments, and on Windows ignores case', () => {
  const cases: [path.PlatformPath, string, string, boolean][] = [
    [path.posix, '/dl', '/dl/a.bin', true],
    [path.posix, '/dl', '/dl/sub/a.bin', true],
    [path.posix, '/dl', '/dl', false],
    [path.posix, '/dl', '/dl-evil/a.bin', false],
    [path.posix, '/dl', '/dla.bin', false],
    [path.posix, '/dl', '/a.bin', false],
    [path.posix, '/dl', '/dl/..a.bin', true],
    [path.posix, '/', '/a.bin', true],
    [path.win32, 'C:\\dl', 'c:\\DL\\a.bin', true],
    [path.win32, 'C:\\dl', 'C:\\dl-evil\\a.bin', false],
    [path.win32, 'C:\\dl', 'D:\\dl\\a.bin', false],
  ];
  assert.deepEqual(
    cases.map(([paths, folder, target]) => [folder, target, isInside(folder, target, paths)]),
    cases.map(([, folder, target, inside]) => [folder, target, inside]),
  );
});
