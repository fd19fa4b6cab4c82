// The bridge's unexpected end: reported as a crash with its meaning, what waited for it failed
// with a BridgeCrashError, the restart policy and the hang watchdog. Against the scripted
// stand-in for the bridge (test/fixtures/fake-bridge.ts).
import assert from 'node:assert/strict';
import { existsSync, readdirSync } from 'node:fs';
import { mkdtemp, rm } from 'node:fs/promises';
import type { Server } from 'node:http';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, before, describe } from 'node:test';
import {
  BridgeClosedError,
  BridgeCrashError,
  BridgeExitError,
  type BridgeCrashInfo,
  type MorvaneBridge,
} from '../src';
import { crashInfoOf } from '../src/crash-info';
import { describeExit } from '../src/exit-codes';
import type { StartBridgeOptions } from '../src/options';
import type { FakeAction, FakeScript } from './fixtures/fake-bridge';
import { readRecord } from './fixtures/fake-record';
import { collect, delay, eventually, isRunning, nextEvent, startFakeBridge, startHttpServer, stopHttpServer } from './helpers';
import { test } from './timed-test';

const device = { vendorId: '10DE', deviceId: '1F08' };
const onWindows = process.platform === 'win32';
const noSignals = onWindows && 'a Windows process that kills itself ends with exit code 1, not by a signal';
// How the fake bridge crashes where the platform allows: a SIGSEGV, or Windows's access violation.
const segfault: { action: FakeAction; meaning: string } = onWindows
  ? { action: { exit: 0xc0000005 }, meaning: 'access violation' }
  : { action: { kill: 'SIGSEGV' }, meaning: 'invalid memory access' };

function updateStatus(state: number, progress = 0) {
  return { vendorId: '10DE', deviceId: '1F08', state, stateString: `state-${state}`, progress, errorCode: 0, errorMsg: '' };
}

const initOptions = {
  appName: 'Crash tests', appId: 'crash-tests', deviceId: 'pc-1', clientVersion: '1.0', oversea: false, configDir: '/tmp/crash-cfg',
};

function failure(promise: Promise<unknown>): Promise<unknown> {
  return promise.then(() => assert.fail('resolved'), (error: unknown) => error);
}


let work: string;
before(async () => {
  work = await mkdtemp(join(tmpdir(), 'crash-tests-'));
});
after(() => rm(work, { recursive: true, force: true }));

let records = 0;
/** A fresh FAKE_BRIDGE_RECORD file: every process started and every request it received. */
function recordFile(): string {
  records += 1;
  return join(work, `record-${records}.jsonl`);
}

function starts(file: string) {
  return readRecord(file).filter((line) => line.start !== undefined);
}

/** The requests the process of the given start received, as [method, params]. */
function requestsOf(file: string, start: number) {
  const pid = starts(file)[start].pid;
  return readRecord(file)
    .filter((line) => line.pid === pid && line.method !== undefined)
    .map((line) => [line.method, line.params]);
}

async function startRecorded(script: FakeScript, options: Partial<StartBridgeOptions> = {}) {
  const record = recordFile();
  const bridge = await startFakeBridge(script, { ...options, env: { FAKE_BRIDGE_RECORD: record, ...options.env } });
  return { bridge, record };
}

describe('what a crash means', () => {
  test('signals and Windows statuses are named, statuses in hex, signed or not; other ends say what they were', () => {
    const cases: [number | null, NodeJS.Signals | null, string, string][] = [
      [null, 'SIGSEGV', 'invalid memory access', 'signal SIGSEGV'],
      [null, 'SIGABRT', 'aborted (abort(), a failed assertion or a fatal error in the runtime)', 'signal SIGABRT'],
      [null, 'SIGBUS', 'bus error: misaligned or unmapped memory access', 'signal SIGBUS'],
      [null, 'SIGILL', 'illegal instruction', 'signal SIGILL'],
      [null, 'SIGFPE', 'arithmetic error, such as an integer division by zero', 'signal SIGFPE'],
      [null, 'SIGKILL', 'killed', 'signal SIGKILL'],
      [null, 'SIGUSR2', 'ended by SIGUSR2', 'signal SIGUSR2'],
      [3221225477, null, 'access violation', 'exit code 0xC0000005 access violation'],
      [-1073741819, null, 'access violation', 'exit code 0xC0000005 access violation'],
      [0xc0000409, null, 'stack buffer overrun (a failed security check, or a fast fail)', 'exit code 0xC0000409 stack buffer overrun (a failed security check, or a fast fail)'],
      [0xc00000fd, null, 'stack overflow', 'exit code 0xC00000FD stack overflow'],
      [0xc0000374, null, 'heap corruption', 'exit code 0xC0000374 heap corruption'],
      [0xc000001d, null, 'illegal instruction', 'exit code 0xC000001D illegal instruction'],
      [0xc0000094, null, 'integer divide by zero', 'exit code 0xC0000094 integer divide by zero'],
      [0xc0000135, null, 'DLL not found', 'exit code 0xC0000135 DLL not found'],
      [0xc0000142, null, 'DLL initialisation failed', 'exit code 0xC0000142 DLL initialisation failed'],
      [0x40000015, null, 'aborted (abort())', 'exit code 0x40000015 aborted (abort())'],
      [0xc0001234, null, 'exited by itself with code 3221230132', 'exit code 0xC0001234'],
      [5, null, 'the bridge lost its pipe (ERROR_ACCESS_DENIED)', 'exit code 5 ERROR_ACCESS_DENIED'],
      [0, null, 'exited by itself with code 0', 'exit code 0'],
      [42, null, 'exited by itself with code 42', 'exit code 42'],
    ];
    for (const [code, signal, meaning, described] of cases) {
      const info = crashInfoOf({ code, signal, output: '' });
      assert.equal(info.meaning, meaning, `${code} ${signal}`);
      assert.equal(info.reason, signal === null ? 'exit' : 'signal');
      assert.equal(describeExit(code, signal), described);
    }
    assert.deepEqual(crashInfoOf({ code: null, signal: 'SIGKILL', output: '' }, 1500), {
      code: null, signal: 'SIGKILL', output: '', reason: 'hung', meaning: 'hung: no output for 1500 ms with a request waiting',
    });
  });
});

describe('a crash of the bridge', () => {
  test('a SIGSEGV gives a crash event, and what waited rejects with a BridgeCrashError that says so', { skip: noSignals }, async () => {
    const script: FakeScript = {
      methods: {
        checkDisplayDeviceDriver: [{ respond: { status: 0 } }],
        updateDisplayDeviceDriver: [{ respond: { status: 0 } }, { event: updateStatus(1, 10) }],
        getSdkVersion: [{ stderr: 'library: writing through a null record\n' }, { sleep: 100 }, { kill: 'SIGSEGV' }],
      },
    };
    const bridge = await startFakeBridge(script);
    const crashes = collect(bridge, 'crash');
    const exits = collect(bridge, 'exit');
    const checking = failure(bridge.checkDisplayDeviceDriver(device));
    const job = bridge.updateDisplayDeviceDriver(device);
    await nextEvent(bridge, 'wire', (direction, line) => direction === 'in' && line.includes('"state":1'));
    const waiting = failure(bridge.getSdkVersion());

    for (const [name, error] of [['request', await waiting], ['check', await checking], ['update', await failure(job.result())]] as const) {
      assert.ok(error instanceof BridgeCrashError, `${name}: ${error}`);
      assert.ok(error instanceof BridgeExitError, name);
      assert.deepEqual([error.code, error.signal, error.meaning], [null, 'SIGSEGV', 'invalid memory access'], name);
      assert.match(error.message, /the bridge ended with signal SIGSEGV: it crashed \(invalid memory access\)/, name);
      assert.match(error.output, /writing through a null record/, name);
    }
    assert.equal(await job.ended, undefined);
    assert.equal(crashes.length, 1);
    const [crash] = crashes[0];
    assert.deepEqual([crash.code, crash.signal, crash.reason, crash.meaning], [null, 'SIGSEGV', 'signal', 'invalid memory access']);
    assert.match(crash.output, /writing through a null record/);
    assert.deepEqual(exits.map(([info]) => info.signal), ['SIGSEGV']);
    const later = await failure(bridge.getDisplayDevices());
    assert.ok(later instanceof BridgeCrashError && later.meaning === 'invalid memory access', String(later));
    assert.deepEqual(await bridge.close(), bridge.exitStatus);
  });

  test('an exit with 0xC0000005 is named an access violation', { skip: !onWindows && 'only Windows keeps a 32-bit exit code' }, async () => {
    const bridge = await startFakeBridge({ methods: { getSdkVersion: [{ exit: 0xc0000005 }] } });
    const crash = nextEvent(bridge, 'crash');
    const error = await failure(bridge.getSdkVersion());
    assert.ok(error instanceof BridgeCrashError, String(error));
    assert.equal(error.code, 3221225477);
    assert.match(error.message, /exit code 0xC0000005 access violation: it crashed/);
    const [info] = await crash;
    assert.deepEqual([info.code, info.reason, info.meaning], [3221225477, 'exit', 'access violation']);
  });

  test('an exit of its own is a crash whatever its code; the exit that close() asks for is not', async () => {
    const cases: { name: string; script: FakeScript; end(bridge: MorvaneBridge): Promise<unknown>; crash: string | undefined; error: Function }[] = [
      { name: 'exit 0 by itself', script: { methods: { getSdkVersion: [{ exit: 0 }] } }, end: (bridge) => bridge.getSdkVersion(), crash: 'exited by itself with code 0', error: BridgeCrashError },
      { name: 'exit 109 after close()', script: { methods: { getSdkVersion: [] } }, end: (bridge) => { const call = bridge.getSdkVersion(); void bridge.close(); return call; }, crash: undefined, error: BridgeClosedError },
    ];
    for (const { name, script, end, crash, error } of cases) {
      const bridge = await startFakeBridge(script);
      const crashes = collect(bridge, 'crash');
      const rejected = await failure(end(bridge));
      assert.ok(rejected instanceof error, `${name}: ${rejected}`);
      const info = await bridge.waitForExit();
      assert.deepEqual(crashes.map(([seen]) => seen.meaning), crash === undefined ? [] : [crash], name);
      if (crash === undefined) assert.equal(info.code, 109, name);
      await bridge.close();
    }
  });

  describe('during a download', () => {
    let server: Server;
    let base: string;
    before(async () => {
      ({ server, url: base } = await startHttpServer((_req, res) => {
        res.writeHead(200, { 'content-length': String(1024 * 1024) });
        res.write(Buffer.alloc(512 * 1024));
        // The rest never comes: the download stays in progress until something stops it.
      }));
    });
    after(() => stopHttpServer(server));

    test('the partial file is gone by the time the crash is reported', async () => {
      const folder = join(work, 'download');
      const path = join(folder, 'driver.pkg');
      const script: FakeScript = {
        onConnect: [{ reverse: { id: '0', method: 'downloadFile', params: { url: `${base}/package`, path, sdkTaskId: 1, sdkData: '1' } } }],
        methods: { getSdkVersion: [{ exit: 70 }] },
      };
      const bridge = await startFakeBridge(script, { downloadDirs: [folder], downloadProgressIntervalMs: 0 });
      await nextEvent(bridge, 'download', (activity) => activity.kind === 'progress');
      const parts = () => readdirSync(folder).filter((name) => name.endsWith('.part'));
      assert.equal(parts().length, 1);
      const crash = nextEvent(bridge, 'crash');
      assert.ok((await failure(bridge.getSdkVersion())) instanceof BridgeCrashError);
      await crash;
      assert.deepEqual(parts(), []);
      assert.equal(existsSync(path), false);
    });
  });
});

describe('the restart policy', () => {
  const restart = { maxRestarts: 3, withinMs: 60_000 };

  test('a new process gets the last init and download folder, then the calls made meanwhile, and the same object works', async () => {
    const script: FakeScript = {
      methods: { getSdkVersion: [segfault.action] },
      afterRestart: { methods: { init: [{ sleep: 200 }, { respond: { status: 0 } }] } },
    };
    const { bridge, record } = await startRecorded(script, { restart });
    const firstPid = bridge.pid;
    await bridge.init({ ...initOptions, appName: 'first' });
    await bridge.init(initOptions);
    await bridge.setDriverDownloadDir('/tmp/crash-downloads');
    // Calls made while the old process is gone, and while the new one has not yet answered the
    // init sent again: both wait for the restart to finish.
    const meanwhile: Promise<unknown>[] = [];
    bridge.once('crash', () => {
      meanwhile.push(bridge.getDisplayDevices());
      void nextEvent(bridge, 'wire', (direction, line) => direction === 'out' && line.includes('"init"')).then(() =>
        meanwhile.push(bridge.getDisplayDevices()),
      );
    });
    const restarted = nextEvent(bridge, 'restarted');
    const error = await failure(bridge.getSdkVersion());
    assert.ok(error instanceof BridgeCrashError, String(error));
    const [info] = await restarted;
    assert.deepEqual([info.attempt, info.crash.meaning], [1, segfault.meaning]);
    assert.equal(info.pid, bridge.pid);
    assert.notEqual(bridge.pid, firstPid);
    assert.equal(meanwhile.length, 2);
    for (const devices of await Promise.all(meanwhile)) assert.equal((devices as { name: string }[])[0].name, 'Fake Adapter');
    assert.equal(await bridge.getSdkVersion(), '9.8.7');
    assert.equal(bridge.exitStatus, undefined);
    assert.deepEqual(starts(record).map((line) => line.start), [0, 1]);
    assert.deepEqual(requestsOf(record, 1), [
      ['init', initOptions],
      ['setDriverDownloadDir', { dir: '/tmp/crash-downloads' }],
      ['getDisplayDevice', undefined],
      ['getDisplayDevice', undefined],
      ['getSdkVersion', undefined],
    ]);
    await bridge.close();
  });

  test('more crashes than maxRestarts within the window: it gives up, says so, and stays ended', async () => {
    const crashing: FakeAction[] = [{ sleep: 50 }, segfault.action];
    const cases: { name: string; script: FakeScript }[] = [
      { name: 'every process crashes once connected', script: { onConnect: crashing } },
      { name: 'every new process crashes on the init sent again', script: { methods: { getSdkVersion: crashing }, afterRestart: { methods: { init: crashing } } } },
    ];
    for (const { name, script } of cases) {
      const { bridge, record } = await startRecorded(script, { restart: { maxRestarts: 2, withinMs: 60_000 } });
      const restarts = collect(bridge, 'restarted');
      const crashes = collect(bridge, 'crash');
      const exits = collect(bridge, 'exit');
      const gaveUp = nextEvent(bridge, 'gaveUp');
      if (script.methods?.getSdkVersion) {
        await bridge.init(initOptions);
        await failure(bridge.getSdkVersion());
      }
      const [info] = await gaveUp;
      assert.match(info.reason, /3 crashes within 60000 ms, more than restart\.maxRestarts \(2\)/, name);
      assert.equal(info.crash.meaning, segfault.meaning, name);
      // A process that crashes before it has its init again is not a restart that happened.
      assert.deepEqual(restarts.map(([restart]) => restart.attempt), script.afterRestart ? [] : [1, 2], name);
      assert.equal(crashes.length, 3, name);
      await eventually(() => exits.length === 1);
      assert.deepEqual(bridge.exitStatus, { code: info.crash.code, signal: info.crash.signal, output: info.crash.output }, name);
      const later = await failure(bridge.getSdkVersion());
      assert.ok(later instanceof BridgeCrashError, `${name}: ${later}`);
      await delay(200);
      assert.equal(starts(record).length, 3, name);
      await bridge.close();
    }
  });

  test('close() during a restart resolves, leaves no process behind and emits no restart', async () => {
    const cases: { name: string; afterRestart: FakeScript }[] = [
      { name: 'the new process has not connected', afterRestart: { neverConnect: true } },
      { name: 'the new process has not answered the init sent again', afterRestart: { methods: { init: [] } } },
    ];
    for (const { name, afterRestart } of cases) {
      const script: FakeScript = { methods: { getSdkVersion: [segfault.action] }, afterRestart };
      const { bridge, record } = await startRecorded(script, { restart, timeouts: { connectMs: 10_000 } });
      await bridge.init(initOptions);
      const restarts = collect(bridge, 'restarted');
      await failure(bridge.getSdkVersion());
      await eventually(() => starts(record).length === 2);
      const newPid = starts(record)[1].pid;
      await delay(100);
      const held = failure(bridge.getSdkVersion());
      const began = Date.now();
      const info = await bridge.close();
      assert.ok(Date.now() - began < 3_000, `${name}: close() took ${Date.now() - began} ms`);
      assert.equal(info, bridge.exitStatus, name);
      assert.equal(isRunning(newPid), false, `${name}: the new process is still running`);
      assert.ok((await held) instanceof BridgeClosedError, name);
      assert.deepEqual(restarts, [], name);
      await assert.rejects(bridge.getSdkVersion(), BridgeClosedError);
    }
  });
});

describe('the hang watchdog', () => {
  test('a bridge silent while a request waits is killed, reported hung, and restarted', async () => {
    const script: FakeScript = { methods: { getSdkVersion: [{ sleep: 60_000 }] }, afterRestart: {} };
    const { bridge } = await startRecorded(script, { hangTimeoutMs: 300, restart: { maxRestarts: 1, withinMs: 60_000 } });
    const crash = nextEvent(bridge, 'crash');
    const restarted = nextEvent(bridge, 'restarted');
    const began = Date.now();
    const error = await failure(bridge.getSdkVersion());
    assert.ok(error instanceof BridgeCrashError, String(error));
    assert.match(error.meaning, /^hung: no output for \d+ ms with a request waiting$/);
    assert.ok(Date.now() - began < 3_000, `killed after ${Date.now() - began} ms`);
    const [info]: [BridgeCrashInfo] = await crash;
    assert.equal(info.reason, 'hung');
    if (!onWindows) assert.equal(info.signal, 'SIGKILL');
    await restarted;
    assert.equal(await bridge.getSdkVersion(), '9.8.7');
    await bridge.close();
  });

  test('a bridge that keeps sending lines while a request waits is left alone', async () => {
    const script: FakeScript = { methods: { getSdkVersion: [{ logFor: { everyMs: 50, forMs: 1_200 } }, { respond: { status: 0, data: 'slow' } }] } };
    const bridge = await startFakeBridge(script, { hangTimeoutMs: 300 });
    const crashes = collect(bridge, 'crash');
    assert.equal(await bridge.getSdkVersion(), 'slow');
    assert.deepEqual(crashes, []);
    await bridge.close();
  });

  test('a bridge silent with no request waiting is left alone', async () => {
    const bridge = await startFakeBridge({}, { hangTimeoutMs: 100 });
    const crashes = collect(bridge, 'crash');
    await delay(500);
    assert.equal(await bridge.getSdkVersion(), '9.8.7');
    assert.deepEqual(crashes, []);
    await bridge.close();
  });
});
