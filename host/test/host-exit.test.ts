// A host process that ends without close() must not leave its bridge running, nor the socket
// folder or partial downloads behind.
import assert from 'node:assert/strict';
import { execFile, type ChildProcess } from 'node:child_process';
import { existsSync, readdirSync, readFileSync, utimesSync, writeFileSync } from 'node:fs';
import { mkdtemp, rm } from 'node:fs/promises';
import type { Server } from 'node:http';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { after, before, describe } from 'node:test';
import { partialGraceMs } from '../src/services/stale-partials';
import type { AbandonPlan } from './fixtures/abandoning-host';
import { delay, eventually, startFakeBridge, startHttpServer, stopHttpServer } from './helpers';
import { test } from './timed-test';

/** Whether the process exists and is not a zombie waiting for a parent that does not reap it. */
function isRunning(pid: number): boolean {
  try {
    process.kill(pid, 0);
  } catch {
    return false;
  }
  try {
    const stat = readFileSync(`/proc/${pid}/stat`, 'utf8');
    return stat.slice(stat.lastIndexOf(')') + 2)[0] !== 'Z';
  } catch {
    return process.platform !== 'linux';
  }
}

function runHost(plan: AbandonPlan, started?: (host: ChildProcess) => void): Promise<{ code: number | null; stderr: string }> {
  return new Promise((resolve) => {
    const child = execFile(process.execPath, [join(__dirname, 'fixtures', 'abandoning-host.js'), JSON.stringify(plan)], (_error, _stdout, stderr) =>
      resolve({ code: child.exitCode, stderr }),
    );
    started?.(child);
  });
}

describe('a host that ends without close()', () => {
  let work: string;
  let server: Server;
  let base: string;
  before(async () => {
    work = await mkdtemp(join(tmpdir(), 'host-exit-'));
    // Sends forever, so a download is still under way when the host ends.
    ({ server, url: base } = await startHttpServer(async (_req, res) => {
      res.writeHead(200, { 'content-length': String(1 << 30) });
      while (!res.destroyed) {
        res.write(Buffer.alloc(16 * 1024));
        await delay(20);
      }
    }));
  });
  after(async () => {
    await stopHttpServer(server);
    await rm(work, { recursive: true, force: true });
  });

  const cases: { name: string; end: AbandonPlan['end']; after: AbandonPlan['after']; script: AbandonPlan['script']; exitCode: number }[] = [
    { name: 'calls process.exit() while a bridge that ignores the closed pipe runs', end: 'exit', after: 'connect', script: { ignoreEnd: true }, exitCode: 0 },
    { name: 'crashes while a bridge that ignores the closed pipe runs', end: 'crash', after: 'connect', script: { ignoreEnd: true }, exitCode: 1 },
    { name: 'exits before the bridge has connected', end: 'exit', after: 'spawn', script: { neverConnect: true }, exitCode: 0 },
    { name: 'exits in the middle of a download', end: 'exit', after: 'download', script: { ignoreEnd: true }, exitCode: 0 },
  ];
  for (const [index, { name, end, after: when, script, exitCode }] of cases.entries()) {
    test(`the bridge is killed and its files removed when the host ${name}`, async () => {
      const run = join(work, `run-${index}`);
      const downloads = join(run, 'downloads');
      const target = join(downloads, 'driver.pkg');
      const plan: AbandonPlan = {
        end,
        after: when,
        reportFile: join(work, `report-${index}.json`),
        downloadDirs: [downloads],
        script:
          when === 'download'
            ? { ...script, onConnect: [{ reverse: { id: '0', method: 'downloadFile', params: { url: base, path: target, sdkTaskId: 1, sdkData: '1' } } }] }
            : script,
      };
      const host = await runHost(plan);
      const { pid, pipe } = JSON.parse(readFileSync(plan.reportFile, 'utf8')) as { pid: number; pipe: string };
      try {
        assert.equal(host.code, exitCode, host.stderr);
        await eventually(() => !isRunning(pid), 2_000);
        // A Windows named pipe ends with the process that made it; a socket's folder must be removed.
        if (process.platform !== 'win32') assert.equal(existsSync(dirname(pipe)), false, `socket folder ${dirname(pipe)} left behind`);
        const left = existsSync(downloads) ? readdirSync(downloads) : [];
        assert.deepEqual(left, []);
      } finally {
        if (isRunning(pid)) process.kill(pid, 'SIGKILL');
      }
    });
  }

  test("a host killed by SIGKILL leaves its partial download, which the next start that allows the folder removes", {
    skip: process.platform === 'win32' && 'a Windows process cannot be killed by a signal it could not catch here',
  }, async () => {
    const run = join(work, 'run-killed');
    const downloads = join(run, 'downloads');
    const keep = join(downloads, 'driver.pkg.part');
    const plan: AbandonPlan = {
      end: 'stay',
      after: 'download',
      reportFile: join(work, 'report-killed.json'),
      downloadDirs: [downloads],
      script: {
        onConnect: [{ reverse: { id: '0', method: 'downloadFile', params: { url: base, path: join(downloads, 'driver.pkg'), sdkTaskId: 1, sdkData: '1' } } }],
      },
    };
    let host: ChildProcess | undefined;
    const ended = runHost(plan, (child) => (host = child));
    const partial = () => (existsSync(downloads) ? readdirSync(downloads).filter((name) => name.endsWith('.part')) : []);
    await eventually(() => partial().length === 1, 10_000);
    host!.kill('SIGKILL');
    await ended;
    const { pid } = JSON.parse(readFileSync(plan.reportFile, 'utf8')) as { pid: number };
    await eventually(() => !isRunning(pid), 5_000);
    assert.equal(partial().length, 1, 'a killed host has no chance to remove its partial file');
    // Partial files written to lately are left alone (their host may run in another PID namespace).
    const longAgo = new Date(Date.now() - 2 * partialGraceMs);
    utimesSync(join(downloads, partial()[0]), longAgo, longAgo);
    writeFileSync(keep, 'a file of this name is not one of the package\'s');

    const bridge = await startFakeBridge({}, { downloadDirs: [downloads] });
    try {
      assert.deepEqual(partial(), ['driver.pkg.part']);
    } finally {
      await bridge.close();
    }
  });
});
