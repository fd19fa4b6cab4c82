// The paths a user meets, through the real bridge with the simulated driver library beside it.
// The bridge is MORVANE_BRIDGE, or build/bin/morvane-bridge of this repository.
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import { createHash } from 'node:crypto';
import { mkdtemp, readdir, readFile, rm } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, afterEach, before, describe } from 'node:test';
import { test } from './timed-test';
import { promisify } from 'node:util';
import {
  BridgeCrashError,
  DriverUpdateError,
  startBridge,
  type StartBridgeOptions,
  UpdateState,
  type DisplayDevice,
  type MorvaneBridge,
  type UpdateStatus,
} from '../src';
import {
  defaultReleases,
  startCatalogueServer,
  type CatalogueServer,
  type CatalogueServerOptions,
  type DriverRelease,
} from '../src/dev/catalogue-server';
import { writeSimMachine } from '../demo/sim-machine';
import { nextEvent, realBridgePath, realBridgeSkip } from './helpers';

const bridgePath = realBridgePath;
const skip = realBridgeSkip;

const adapterA = { vendorId: '10DE', deviceId: '2484' };
// A real library with its steps and the demo takes longer than the default limit per test.
const slow = { timeout: 60_000 };
const releaseA = defaultReleases[0];

interface Session {
  bridge: MorvaneBridge;
  site: CatalogueServer;
  downloads: string;
}

describe('with the real bridge and the simulated library', { skip }, () => {
  let work: string;
  const sessions: Session[] = [];
  before(async () => {
    work = await mkdtemp(join(tmpdir(), 'bridge-real-'));
  });
  afterEach(async () => {
    for (const session of sessions.splice(0)) {
      await session.bridge.close();
      await session.site.close();
    }
  });
  after(() => rm(work, { recursive: true, force: true }));

  async function open(
    siteOptions: CatalogueServerOptions = {},
    setDownloadDir = true,
    bridgeOptions: Partial<StartBridgeOptions> = {},
  ): Promise<Session> {
    const folder = await mkdtemp(join(work, 'run-'));
    const site = await startCatalogueServer({ ...siteOptions, releases: siteOptions.releases ?? defaultReleases });
    const bridge = await startBridge({ executable: bridgePath, timeouts: { requestMs: 10_000 }, ...bridgeOptions });
    const session = { bridge, site, downloads: join(folder, 'downloads') };
    sessions.push(session);
    await bridge.init({
      appName: 'host tests',
      appId: 'host-tests',
      deviceId: 'test-machine',
      clientVersion: '1.0.0',
      oversea: false,
      sdkConfigUrl: site.catalogueUrl,
      configDir: join(folder, 'config'),
      tempDir: join(folder, 'temp'),
      logMode: ['error', 'warning'],
    });
    if (setDownloadDir) await bridge.setDriverDownloadDir(session.downloads);
    return session;
  }

  function releasesWith(fault: DriverRelease['fault']): DriverRelease[] {
    return [{ ...releaseA, fault }, ...defaultReleases.slice(1)];
  }

  async function driverOf(bridge: MorvaneBridge, ref: typeof adapterA): Promise<DisplayDevice> {
    const devices = await bridge.getDisplayDevices();
    return devices.find((device) => device.vendorId === ref.vendorId && device.deviceId === ref.deviceId)!;
  }

  async function packagesIn(folder: string): Promise<string[]> {
    const names = await readdir(folder).catch(() => [] as string[]);
    return names.filter((name) => name.endsWith('.mvpkg'));
  }

  /** Runs an update to its end: every report, and the error it ended with, if any. */
  async function runUpdate(bridge: MorvaneBridge, signal?: AbortSignal, onStatus?: (status: UpdateStatus) => void) {
    const reports: UpdateStatus[] = [];
    const job = bridge.updateDisplayDeviceDriver(adapterA, { signal });
    try {
      for await (const status of job) {
        reports.push(status);
        onStatus?.(status);
      }
      return { job, reports, error: undefined };
    } catch (error) {
      return { job, reports, error };
    }
  }

  test('a full update: check, download, unpack, install, and the new version shows', slow, async () => {
    const { bridge, site, downloads } = await open();
    assert.match(await bridge.getSdkVersion(), /\S/);
    const before = await driverOf(bridge, adapterA);

    const check = await bridge.checkDisplayDeviceDriver(adapterA);
    const entry = site.entries[0];
    assert.deepEqual(
      [check.needUpdate, check.errorCode, check.driverVersion, check.fileSize],
      [true, 0, entry.version, entry.fileSize],
    );

    const { reports, error } = await runUpdate(bridge);
    assert.equal(error, undefined);
    const states = reports.map((report) => report.state);
    assert.equal(states[0], UpdateState.Download);
    assert.equal(states.at(-1), UpdateState.Finish);
    assert.ok(states.every((state, index) => state >= (states[index - 1] ?? 0)), `states ${states}`);
    for (const state of [UpdateState.DownloadSuccess, UpdateState.UnzipSuccess, UpdateState.InstallSuccess]) {
      assert.ok(states.includes(state), `no state ${state} in ${states}`);
    }
    const downloadProgress = reports.filter((report) => report.state === UpdateState.Download).map((r) => r.progress);
    assert.ok(downloadProgress.every((value, index) => value >= (downloadProgress[index - 1] ?? 0) && value <= 100));

    const after = await driverOf(bridge, adapterA);
    assert.notEqual(before.driverVersion, entry.version);
    assert.deepEqual([after.driverVersion, after.driverDate], [entry.version, entry.date]);
    const [file] = await packagesIn(downloads);
    const bytes = await readFile(join(downloads, file));
    assert.equal(createHash('md5').update(bytes).digest('hex'), entry.md5);
  });

  test('an adapter that is already current is told so and not updated', slow, async () => {
    const { bridge } = await open();
    const check = await bridge.checkDisplayDeviceDriver({ vendorId: '1002', deviceId: '73BF' });
    assert.deepEqual([check.needUpdate, check.errorCode], [false, -2007]);
  });

  const cancels: { name: string; stop(job: { controller: AbortController; cancel(): Promise<void> }): Promise<void>; error: (e: unknown) => boolean }[] = [
    {
      name: 'an abort signal',
      stop: async ({ controller }) => controller.abort(new Error('stopped by the user')),
      error: (e) => e instanceof Error && e.message === 'stopped by the user',
    },
    {
      name: 'cancelUpdateDisplayDeviceDriver',
      stop: ({ cancel }) => cancel(),
      error: (e) => e instanceof DriverUpdateError && e.status.state === UpdateState.DownloadError && e.status.errorCode === -1003,
    },
  ];
  for (const { name, stop, error: expected } of cancels) {
    test(`a cancel during the download by ${name} leaves no partial file`, slow, async () => {
      // 4 MiB at 256 KiB/s: the download runs long enough to be cancelled in the middle.
      const releases = [{ ...releaseA, payloadBytes: 4 * 1024 * 1024 }, ...defaultReleases.slice(1)];
      const { bridge, downloads } = await open({ releases, bytesPerSecond: 256 * 1024 });
      const controller = new AbortController();
      const cancelled = nextEvent(bridge, 'download', (activity) => activity.kind === 'cancelled', 15_000);
      let stopping: Promise<void> | undefined;
      const { job, reports, error } = await runUpdate(bridge, controller.signal, (status) => {
        if (stopping === undefined && status.state === UpdateState.Download && status.progress > 0) {
          stopping = stop({ controller, cancel: () => bridge.cancelUpdateDisplayDeviceDriver(adapterA) });
        }
      });
      await stopping;
      assert.ok(expected(error), String(error));
      // An abort ends the iteration at once; the library's own end comes after.
      const final = await job.ended;
      assert.deepEqual([final?.state, final?.errorCode], [UpdateState.DownloadError, -1003]);
      assert.ok(reports.every((report) => report.state <= UpdateState.DownloadError));
      const [activity] = await cancelled;
      assert.ok(activity.receivedBytes > 0 && activity.receivedBytes < activity.totalBytes!);
      assert.deepEqual(await packagesIn(downloads), []);
      assert.notEqual((await driverOf(bridge, adapterA)).driverVersion, releaseA.version);
    });
  }

  test('a network failure is reported to the library and reaches the host as its code', slow, async (t) => {
    const failures: { name: string; prepare(session: Session): Promise<void>; options?: CatalogueServerOptions; checkCode: number; updateCode: number; state: number }[] = [
      {
        name: 'catalogue unreachable',
        prepare: (session) => session.site.close(),
        checkCode: -3001,
        updateCode: -3001,
        state: UpdateState.DownloadError,
      },
      {
        name: 'package missing on the server',
        prepare: async () => undefined,
        options: { releases: releasesWith('missing') },
        checkCode: 0,
        updateCode: -3001,
        state: UpdateState.DownloadError,
      },
    ];
    for (const failure of failures) {
      await t.test(failure.name, async () => {
        const session = await open(failure.options);
        await failure.prepare(session);
        const check = await session.bridge.checkDisplayDeviceDriver(adapterA);
        assert.equal(check.errorCode, failure.checkCode);
        const { reports, error } = await runUpdate(session.bridge);
        assert.ok(error instanceof DriverUpdateError, String(error));
        assert.deepEqual([error.status.state, error.status.errorCode], [failure.state, failure.updateCode]);
        assert.notEqual(error.status.errorMsg, '');
        assert.equal(reports.at(-1), error.status);
        assert.deepEqual(await packagesIn(session.downloads), []);
      });
    }
  });

  test('a download outside the allowed folders fails the update with the reason, writing nothing', slow, async () => {
    // Without setDriverDownloadDir the library downloads into its temporary folder.
    const session = await open({}, false);
    const { error } = await runUpdate(session.bridge);
    assert.ok(error instanceof DriverUpdateError, String(error));
    assert.deepEqual([error.status.state, error.code], [UpdateState.DownloadError, -1000]);
    assert.match(error.message, /-1000 invalid_parameter: refused to download: ".*\.mvpkg": no download folder is allowed/);
    const temp = join(session.downloads, '..', 'temp');
    assert.deepEqual(await packagesIn(temp), []);
  });

  test('a bad package fails the update and leaves the old driver', slow, async (t) => {
    const cases: { fault: DriverRelease['fault']; state: number; code: number }[] = [
      { fault: 'bytes', state: UpdateState.DownloadError, code: -2008 },
      { fault: 'format', state: UpdateState.UnzipError, code: -2004 },
    ];
    for (const { fault, state, code } of cases) {
      await t.test(`package fault: ${fault}`, async () => {
        const { bridge } = await open({ releases: releasesWith(fault) });
        const { error } = await runUpdate(bridge);
        assert.ok(error instanceof DriverUpdateError, String(error));
        assert.deepEqual([error.status.state, error.status.errorCode], [state, code]);
        assert.notEqual((await driverOf(bridge, adapterA)).driverVersion, releaseA.version);
      });
    }
  });

  test('a crash in the middle of an update is named, and the restarted bridge finishes the update', slow, async () => {
    const machine = join(work, 'crashing-machine.json');
    writeSimMachine(machine, { crashDuringUpdate: 'unzip', stepDelayMs: 200 });
    const { bridge } = await open({}, true, { env: { MORVANE_SIM_MACHINE: machine }, restart: { maxRestarts: 2, withinMs: 60_000 } });
    // The next process's init reads the machine again: without the fault, the update can finish.
    bridge.once('crash', () => writeSimMachine(machine));
    const crash = nextEvent(bridge, 'crash', undefined, 30_000);
    const restarted = nextEvent(bridge, 'restarted', undefined, 30_000);
    const first = await runUpdate(bridge);
    assert.ok(first.error instanceof BridgeCrashError, String(first.error));
    const [info] = await crash;
    if (process.platform === 'win32') {
      assert.deepEqual([info.code, info.meaning], [0xc0000005, 'access violation']);
      assert.match(first.error.message, /exit code 0xC0000005 access violation/);
    } else {
      assert.deepEqual([info.signal, info.meaning], ['SIGSEGV', 'invalid memory access']);
      assert.match(first.error.message, /signal SIGSEGV: it crashed \(invalid memory access\)/);
    }
    assert.deepEqual(first.reports.map((status) => status.state).at(-1), UpdateState.Unzip);
    assert.equal((await restarted)[0].attempt, 1);
    const second = await runUpdate(bridge);
    assert.equal(second.error, undefined);
    assert.equal(second.reports.at(-1)?.state, UpdateState.Finish);
    assert.equal((await driverOf(bridge, adapterA)).driverVersion, releaseA.version);
  });

  test('a library call that never returns is caught by the hang watchdog', slow, async () => {
    const machine = join(work, 'hanging-machine.json');
    writeSimMachine(machine, { hangInCall: 'Morvane_GetDisplayDevice' });
    const { bridge } = await open({}, true, { env: { MORVANE_SIM_MACHINE: machine }, hangTimeoutMs: 1_000 });
    const crash = nextEvent(bridge, 'crash', undefined, 10_000);
    const error = await bridge.getDisplayDevices().then(() => assert.fail('resolved'), (e: unknown) => e);
    assert.ok(error instanceof BridgeCrashError, String(error));
    assert.match(error.meaning, /^hung: no output for \d+ ms with a request waiting$/);
    assert.equal((await crash)[0].reason, 'hung');
    assert.notEqual(bridge.exitStatus, undefined);
  });

  test('the demo runs to its end and shows the new driver, also when the library crashes once', slow, async () => {
    const crashLine =
      process.platform === 'win32' ? /The bridge crashed: exit code 0xC0000005 access violation/ : /The bridge crashed: signal SIGSEGV \(invalid memory access\)/;
    for (const flags of [[], ['--crash']]) {
      const { stdout } = await promisify(execFile)(process.execPath, [join(__dirname, '..', 'demo', 'main.js'), ...flags], {
        env: { ...process.env, MORVANE_BRIDGE: bridgePath },
        timeout: 60_000,
      });
      assert.match(stdout, new RegExp(`${releaseA.version.replace(/\./g, '\\.')} \\(was 31\\.0\\.15\\.1000\\)`));
      assert.match(stdout, /Finished\s+100%/);
      if (flags.length === 0) {
        assert.doesNotMatch(stdout, /crashed/);
        continue;
      }
      assert.match(stdout, crashLine);
      assert.match(stdout, /restarted the bridge \(attempt 1, process \d+\)/);
      assert.match(stdout, /Updating Simulated Display Adapter A again/);
    }
  });
});
