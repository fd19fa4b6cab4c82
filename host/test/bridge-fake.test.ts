// The package against a scripted stand-in for the bridge: the wire format of every request,
// and the failure paths a real bridge produces only rarely.
import assert from 'node:assert/strict';
import { existsSync, readdirSync } from 'node:fs';
import { access, mkdtemp, readFile, rm } from 'node:fs/promises';
import type { Server } from 'node:http';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { after, before, describe } from 'node:test';
import { test } from './timed-test';
import {
  BridgeClosedError,
  BridgeExitError,
  BridgeReplyError,
  BridgeStatusError,
  BridgeTimeoutError,
  DriverUpdateError,
  MorvaneBridgeError,
  startBridge,
  type MorvaneBridge,
  type RequestOptions,
} from '../src';
import type { FakeAction, FakeScript } from './fixtures/fake-bridge';
import type { StartBridgeOptions } from '../src/options';
import { collect, delay, eventually, nextEvent, refusedUrl, startFakeBridge, startHttpServer, stopHttpServer } from './helpers';

const device = { vendorId: '10DE', deviceId: '1F08' };
const otherDevice = { vendorId: '8086', deviceId: '9A49' };

const checkResult = {
  name: 'Fake Driver', vendorId: '10DE', deviceId: '1F08', driverVersion: '2.0.0', driverDate: '2024-06-01',
  fileSize: 3_000_000_000, needUpdate: true, errorCode: 0, errorMsg: '',
};

function updateStatus(state: number, progress = 0, errorCode = 0) {
  return { vendorId: '10DE', deviceId: '1F08', state, stateString: `state-${state}`, progress, errorCode, errorMsg: '' };
}

function outgoing(lines: ['in' | 'out', string][]) {
  return lines.filter(([direction]) => direction === 'out').map(([, line]) => JSON.parse(line));
}

async function exists(path: string): Promise<boolean> {
  return access(path).then(() => true, () => false);
}

function partialFilesIn(folder: string): string[] {
  return existsSync(folder) ? readdirSync(folder).filter((name) => name.endsWith('.part')) : [];
}

async function withBridge(script: FakeScript, body: (bridge: MorvaneBridge) => Promise<void>, options = {}) {
  const bridge = await startFakeBridge(script, options);
  try {
    await body(bridge);
  } finally {
    await bridge.close();
  }
}

describe('requests', () => {
  test('each method sends its request and resolves with the data', async () => {
    await withBridge({}, async (bridge) => {
      const wire = collect(bridge, 'wire');
      await bridge.init({
        appName: 'Demo', appId: 'demo-1', deviceId: 'pc-1', clientVersion: '1.0', oversea: false,
        configDir: '/tmp/cfg', logMode: ['error', 'info'],
      });
      assert.equal(await bridge.getSdkVersion(), '9.8.7');
      const devices = await bridge.getDisplayDevices();
      assert.deepEqual(devices.map((d) => [d.vendorId, d.deviceId, d.vendorType]), [['10DE', '1F08', 'nvidia']]);
      await bridge.setDriverDownloadDir('/tmp/drivers');
      await bridge.cancelCheckDisplayDeviceDriver({ ...device, extra: 1 } as typeof device);
      await bridge.cancelUpdateDisplayDeviceDriver(device);

      const sent = outgoing(wire);
      assert.deepEqual(
        sent.map(({ method, params }) => [method, params]),
        [
          ['init', { appName: 'Demo', appId: 'demo-1', deviceId: 'pc-1', clientVersion: '1.0', oversea: false, configDir: '/tmp/cfg', logMode: ['error', 'info'] }],
          ['getSdkVersion', undefined],
          ['getDisplayDevice', undefined],
          ['setDriverDownloadDir', { dir: '/tmp/drivers' }],
          ['cancelCheckDisplayDeviceDriver', device],
          ['cancelUpdateDisplayDeviceDriver', device],
        ],
      );
      for (const message of sent) {
        assert.deepEqual([message.type, message.from, message.to, typeof message.id], ['request', 'host', 'client', 'string']);
      }
      assert.equal(new Set(sent.map((message) => message.id)).size, sent.length);
    });
  });

  const failingCalls: [string, (bridge: MorvaneBridge) => Promise<unknown>][] = [
    ['init', (b) => b.init({ appName: 'a', appId: 'b', deviceId: 'c', clientVersion: 'd', oversea: true })],
    ['getSdkVersion', (b) => b.getSdkVersion()],
    ['getDisplayDevice', (b) => b.getDisplayDevices()],
    ['setDriverDownloadDir', (b) => b.setDriverDownloadDir('/x')],
    ['checkDisplayDeviceDriver', (b) => b.checkDisplayDeviceDriver(device)],
    ['cancelCheckDisplayDeviceDriver', (b) => b.cancelCheckDisplayDeviceDriver(device)],
    ['updateDisplayDeviceDriver', (b) => b.updateDisplayDeviceDriver(device).result()],
    ['cancelUpdateDisplayDeviceDriver', (b) => b.cancelUpdateDisplayDeviceDriver(device)],
  ];

  test('a status other than 0 rejects with the status, its text, the method and the id', async () => {
    const methods = Object.fromEntries(
      failingCalls.map(([method]): [string, FakeAction[]] => [method, [{ respond: { status: -2016, statusString: 'another_device_updating' } }]]),
    );
    await withBridge({ methods }, async (bridge) => {
      const wire = collect(bridge, 'wire');
      for (const [method, call] of failingCalls) {
        const error = await call(bridge).then(() => assert.fail(`${method} resolved`), (e: unknown) => e);
        assert.ok(error instanceof BridgeStatusError, `${method}: ${error}`);
        const request = outgoing(wire).find((message) => message.method === method);
        assert.deepEqual(
          { method: error.method, id: error.id, status: error.status, statusString: error.statusString, code: error.code },
          { method, id: request.id, status: -2016, statusString: 'another_device_updating', code: -2016 },
        );
        assert.match(error.message, new RegExp(`^${method} failed with -2016 another_device_updating$`));
      }
    });
  });

  test('an "error" reply rejects with its text', async () => {
    const methods = Object.fromEntries(
      failingCalls.map(([method]): [string, FakeAction[]] => [method, [{ errorReply: 'parse request failed' }]]),
    );
    await withBridge({ methods }, async (bridge) => {
      for (const [method, call] of failingCalls) {
        const error = await call(bridge).then(() => assert.fail(`${method} resolved`), (e: unknown) => e);
        assert.ok(error instanceof BridgeReplyError, `${method}: ${error}`);
        assert.equal(error.reply, 'parse request failed');
        assert.equal(error.method, method);
        assert.match(error.message, /parse request failed/);
      }
    });
  });

  test('a request without a response times out, and its late response is ignored', async () => {
    const script = { methods: { getSdkVersion: [{ sleep: 400 }, { respond: { status: 0, data: 'late' } }] } };
    await withBridge(script, async (bridge) => {
      const error = await bridge.getSdkVersion().catch((e: unknown) => e);
      assert.ok(error instanceof BridgeTimeoutError);
      assert.equal(error.method, 'getSdkVersion');
      assert.equal(error.code, -3000);
      assert.match(error.message, /-3000 timeout/);
      await nextEvent(bridge, 'wire', (direction, line) => direction === 'in' && line.includes('late'));
      assert.equal(await bridge.getDisplayDevices().then((list) => list.length), 1);
    }, { timeouts: { requestMs: 150 } });
  });
});

describe('jobs', () => {
  test('a check resolves with its result, also when the result comes before the response', async () => {
    const orders: [string, FakeAction[]][] = [
      ['response first', [{ respond: { status: 0 } }, { sleep: 30 }, { event: checkResult }]],
      ['result first', [{ event: checkResult }, { sleep: 30 }, { respond: { status: 0 } }]],
    ];
    for (const [name, actions] of orders) {
      await withBridge({ methods: { checkDisplayDeviceDriver: actions } }, async (bridge) => {
        assert.deepEqual(await bridge.checkDisplayDeviceDriver(device), checkResult, name);
      });
    }
  });

  test('a refused check rejects even when a result came first', async () => {
    const actions: FakeAction[] = [{ event: checkResult }, { respond: { status: -2015, statusString: 'not_current_check_device' } }];
    await withBridge({ methods: { checkDisplayDeviceDriver: actions } }, async (bridge) => {
      await assert.rejects(bridge.checkDisplayDeviceDriver(device), { name: 'BridgeStatusError', status: -2015 });
    });
  });

  test('concurrent checks each get the result that carries their id', async () => {
    const actions: FakeAction[] = [{ respond: { status: 0 } }, { eventWithParams: { ...checkResult, name: 'per device' } }];
    await withBridge({ methods: { checkDisplayDeviceDriver: actions } }, async (bridge) => {
      const [first, second] = await Promise.all([
        bridge.checkDisplayDeviceDriver(device),
        bridge.checkDisplayDeviceDriver(otherDevice),
      ]);
      assert.deepEqual([first.vendorId, second.vendorId], [device.vendorId, otherDevice.vendorId]);
    });
  });

  test('an update yields its reports up to the finish, also those sent before the response', async () => {
    const actions: FakeAction[] = [
      { event: updateStatus(1, 0) },
      { respond: { status: 0 } },
      ...[30, 70].map((progress): FakeAction => ({ event: updateStatus(1, progress) })),
      ...[3, 4, 6, 7, 9, 10].map((state): FakeAction => ({ event: updateStatus(state, 100) })),
      { event: updateStatus(1, 5) },
    ];
    await withBridge({ methods: { updateDisplayDeviceDriver: actions } }, async (bridge) => {
      const seen: [number, number][] = [];
      for await (const status of bridge.updateDisplayDeviceDriver(device)) seen.push([status.state, status.progress]);
      assert.deepEqual(seen, [[1, 0], [1, 30], [1, 70], [3, 100], [4, 100], [6, 100], [7, 100], [9, 100], [10, 100]]);
    });
  });

  test('an update ending in an error state throws after yielding that report', async () => {
    const actions: FakeAction[] = [{ respond: { status: 0 } }, { event: updateStatus(1, 40) }, { event: { ...updateStatus(2, 40, -3001), errorMsg: 'net down' } }];
    await withBridge({ methods: { updateDisplayDeviceDriver: actions } }, async (bridge) => {
      const states: number[] = [];
      const error = await (async () => {
        for await (const status of bridge.updateDisplayDeviceDriver(device)) states.push(status.state);
      })().catch((e: unknown) => e);
      assert.deepEqual(states, [1, 2]);
      assert.ok(error instanceof DriverUpdateError);
      assert.equal(error.status.errorCode, -3001);
      assert.equal(error.code, -3001);
      assert.match(error.message, /state-2 with -3001 net_error: net down/);
    });
  });

  test('an aborted update ends for the caller at once; ended tells when the library has stopped it', async () => {
    const script: FakeScript = {
      methods: {
        updateDisplayDeviceDriver: [{ respond: { status: 0 } }, { event: updateStatus(1, 10) }],
        cancelUpdateDisplayDeviceDriver: [
          { respond: { status: 0 } },
          { sleep: 100 },
          { jobEvent: { method: 'updateDisplayDeviceDriver', params: { ...updateStatus(1, 12) } } },
          { jobEvent: { method: 'updateDisplayDeviceDriver', params: { ...updateStatus(2, 12, -1003), errorMsg: 'cancelled' } } },
        ],
      },
    };
    await withBridge(script, async (bridge) => {
      const controller = new AbortController();
      const job = bridge.updateDisplayDeviceDriver(device, { signal: controller.signal });
      const seen: number[] = [];
      await assert.rejects(async () => {
        for await (const status of job) {
          seen.push(status.progress);
          controller.abort(new Error('the user closed the window'));
        }
      }, /the user closed the window/);
      assert.deepEqual([seen, job.finished], [[10], true]);
      const final = await job.ended;
      assert.deepEqual([final?.state, final?.errorCode, job.lastStatus], [2, -1003, final]);
      await assert.rejects(job.result(), /the user closed the window/);
    });
  });

  test('aborting a check or an update rejects with the reason and cancels it in the library', async () => {
    const jobs: [string, (bridge: MorvaneBridge, signal: AbortSignal) => Promise<unknown>][] = [
      ['cancelCheckDisplayDeviceDriver', (bridge, signal) => bridge.checkDisplayDeviceDriver(device, { signal })],
      ['cancelUpdateDisplayDeviceDriver', (bridge, signal) => bridge.updateDisplayDeviceDriver(device, { signal }).result()],
    ];
    const script: FakeScript = {
      methods: { updateDisplayDeviceDriver: [{ respond: { status: 0 } }, { event: updateStatus(1, 10) }] },
    };
    await withBridge(script, async (bridge) => {
      for (const [cancelMethod, start] of jobs) {
        const wire = collect(bridge, 'wire');
        const controller = new AbortController();
        const running = start(bridge, controller.signal);
        await delay(100);
        controller.abort(new Error('user closed the window'));
        await assert.rejects(running, /user closed the window/);
        await eventually(() => outgoing(wire).some((message) => message.method === cancelMethod));
        assert.deepEqual(outgoing(wire).find((message) => message.method === cancelMethod).params, device);
      }
    });
  });
});

describe('per-call abort signal and time limit', () => {
  const calls: [string, (bridge: MorvaneBridge, options: RequestOptions) => Promise<unknown>][] = [
    ['init', (b, o) => b.init({ appName: 'a', appId: 'b', deviceId: 'c', clientVersion: 'd', oversea: true }, o)],
    ['getSdkVersion', (b, o) => b.getSdkVersion(o)],
    ['getDisplayDevice', (b, o) => b.getDisplayDevices(o)],
    ['setDriverDownloadDir', (b, o) => b.setDriverDownloadDir('/x', o)],
    ['checkDisplayDeviceDriver', (b, o) => b.checkDisplayDeviceDriver(device, o)],
    ['cancelCheckDisplayDeviceDriver', (b, o) => b.cancelCheckDisplayDeviceDriver(device, o)],
    ['updateDisplayDeviceDriver', (b, o) => b.updateDisplayDeviceDriver(device, o).result()],
    ['cancelUpdateDisplayDeviceDriver', (b, o) => b.cancelUpdateDisplayDeviceDriver(device, o)],
  ];
  // A bridge that never answers, so that only the signal or the time limit can end a call.
  const silent: FakeScript = { methods: Object.fromEntries(calls.map(([method]) => [method, []])) };

  test('timeoutMs limits the wait of each call', async () => {
    await withBridge(silent, async (bridge) => {
      const errors = await Promise.all(calls.map(([, call]) => call(bridge, { timeoutMs: 100 }).catch((e: unknown) => e)));
      for (const [index, [method]] of calls.entries()) {
        const error = errors[index];
        assert.ok(error instanceof BridgeTimeoutError, `${method}: ${error}`);
        assert.deepEqual([error.method, error.timeoutMs], [method, 100]);
      }
    }, { timeouts: { requestMs: 60_000 } });
  });

  test('no limit (Infinity, 0) and limits beyond what timers hold wait; nonsense is a TypeError before anything is sent', async () => {
    await withBridge(silent, async (bridge) => {
      const wire = collect(bridge, 'wire');
      for (const timeoutMs of [Number.NaN, -1, '100' as unknown as number, null as unknown as number]) {
        for (const [method, call] of calls) {
          await assert.rejects(call(bridge, { timeoutMs }), (error: unknown) => {
            assert.ok(error instanceof TypeError, `${method} with ${String(timeoutMs)}: ${error}`);
            assert.match(error.message, /timeoutMs/);
            return true;
          });
        }
      }
      assert.deepEqual(wire, [], 'a call with a bad option sent its request');
      // A timer of 2^31 ms or more would fire at once; these must still be waiting.
      const waiting = [Infinity, 0, 2 ** 31, 1e12].map((timeoutMs) =>
        bridge.getSdkVersion({ timeoutMs }).then(() => 'answered', (e: unknown) => `failed: ${e}`),
      );
      const early = await Promise.race([Promise.race(waiting), delay(300).then(() => 'still waiting')]);
      assert.equal(early, 'still waiting');
    }, { timeouts: { requestMs: 60_000 } });
  });

  test('an abort rejects each call at once with the reason', async () => {
    await withBridge(silent, async (bridge) => {
      for (const [method, call] of calls) {
        const controller = new AbortController();
        const sent = nextEvent(bridge, 'wire', (direction, line) => direction === 'out' && line.includes(`"method":"${method}"`));
        const running = call(bridge, { signal: controller.signal });
        await sent;
        controller.abort(new Error(`stop ${method}`));
        await assert.rejects(running, new RegExp(`^Error: stop ${method}$`), method);
      }
    }, { timeouts: { requestMs: 60_000 } });
  });

  test('an aborted signal rejects each call and sends nothing', async () => {
    await withBridge({}, async (bridge) => {
      const wire = collect(bridge, 'wire');
      for (const [method, call] of calls) {
        await assert.rejects(call(bridge, { signal: AbortSignal.abort(new Error('too late')) }), /too late/, method);
      }
      await delay(50);
      assert.deepEqual(wire, []);
    });
  });
});

describe('the end of the bridge', () => {
  const cases: {
    name: string;
    script: FakeScript;
    run(bridge: MorvaneBridge): Promise<unknown>;
    code: number | null;
    signal: string | null;
    output?: RegExp;
    message: RegExp;
    skip?: string | false;
  }[] = [
    {
      name: 'exit in the middle of a request',
      script: { methods: { getSdkVersion: [{ stderr: 'library crashed: bad record\n' }, { exit: 3 }] } },
      run: (bridge) => bridge.getSdkVersion(),
      code: 3,
      signal: null,
      output: /library crashed: bad record/,
      message: /getSdkVersion request \d+: the bridge ended with exit code 3 ERROR_PATH_NOT_FOUND/,
    },
    {
      name: 'killed in the middle of a request',
      script: { methods: { getDisplayDevice: [{ kill: 'SIGKILL' }] } },
      run: (bridge) => bridge.getDisplayDevices(),
      code: null,
      signal: 'SIGKILL',
      message: /the bridge ended with signal SIGKILL/,
      skip: process.platform === 'win32' && 'a Windows process that kills itself ends with exit code 1, not by a signal',
    },
    {
      name: 'exit while a check waits for its result',
      script: { methods: { checkDisplayDeviceDriver: [{ respond: { status: 0 } }, { sleep: 50 }, { exit: 5 }] } },
      run: (bridge) => bridge.checkDisplayDeviceDriver(device),
      code: 5,
      signal: null,
      message: /checkDisplayDeviceDriver job \d+: the bridge ended with exit code 5 ERROR_ACCESS_DENIED/,
    },
    {
      name: 'exit in the middle of an update',
      script: { methods: { updateDisplayDeviceDriver: [{ respond: { status: 0 } }, { event: updateStatus(1, 10) }, { exit: 6 }] } },
      run: (bridge) => bridge.updateDisplayDeviceDriver(device).result(),
      code: 6,
      signal: null,
      message: /updateDisplayDeviceDriver job \d+: the bridge ended with exit code 6 ERROR_INVALID_HANDLE/,
    },
  ];
  for (const { name, script, run, code, signal, output, message, skip } of cases) {
    test(`${name} rejects with the exit code, the signal and the output`, { skip }, async () => {
      const bridge = await startFakeBridge(script);
      const exits = collect(bridge, 'exit');
      const error = await run(bridge).then(() => assert.fail('resolved'), (e: unknown) => e);
      assert.ok(error instanceof BridgeExitError, String(error));
      assert.deepEqual([error.code, error.signal], [code, signal]);
      assert.match(error.message, message);
      if (output) {
        assert.match(error.output, output);
        assert.match(error.message, output);
      }
      assert.deepEqual(exits.map(([info]) => [info.code, info.signal]), [[code, signal]]);
      await assert.rejects(bridge.getSdkVersion(), BridgeExitError);
      assert.deepEqual(await bridge.close(), bridge.exitStatus);
    });
  }

  test('close() ends the bridge, rejects what waits with a BridgeClosedError, and is safe to call twice', async () => {
    const script: FakeScript = {
      methods: {
        getSdkVersion: [],
        checkDisplayDeviceDriver: [{ respond: { status: 0 } }],
        updateDisplayDeviceDriver: [{ respond: { status: 0 } }, { event: updateStatus(1, 10) }],
      },
    };
    const bridge = await startFakeBridge(script, { timeouts: { requestMs: 60_000 } });
    const outcome = (promise: Promise<unknown>) => promise.then(() => assert.fail('resolved'), (error: unknown) => error);
    const waiting = outcome(bridge.getSdkVersion());
    const checking = outcome(bridge.checkDisplayDeviceDriver(device));
    const job = bridge.updateDisplayDeviceDriver(device);
    const states: number[] = [];
    const updating = outcome((async () => {
      for await (const status of job) states.push(status.state);
    })());
    await nextEvent(bridge, 'wire', (direction, line) => direction === 'in' && line.includes('"state":1'));
    const [first, second] = await Promise.all([bridge.close(), bridge.close()]);
    assert.equal(first, second);
    assert.deepEqual([first.code, first.signal], [109, null]);
    for (const [name, error] of [['request', await waiting], ['check', await checking], ['update', await updating]] as const) {
      assert.ok(error instanceof BridgeClosedError, `${name}: ${error}`);
      assert.ok(!(error instanceof BridgeExitError), name);
      assert.equal(error.code, -1003);
      assert.match(error.message, /closed by the host \(-1003 cancel_operation\)/);
      assert.doesNotMatch(error.message, /exit code/);
    }
    assert.deepEqual(states, [1]);
    assert.equal(await job.ended, undefined);
    await assert.rejects(bridge.getSdkVersion(), BridgeClosedError);
    await assert.rejects(bridge.updateDisplayDeviceDriver(device).result(), BridgeClosedError);
    assert.equal(await bridge.close(), first);
  });

  test('await using closes the bridge at the end of the block', async () => {
    let used: MorvaneBridge;
    {
      await using bridge = await startFakeBridge({});
      used = bridge;
      assert.equal(await bridge.getSdkVersion(), '9.8.7');
    }
    assert.deepEqual(used.exitStatus, { code: 109, signal: null, output: '' });
  });

  test('close() kills a bridge that does not exit', async () => {
    const bridge = await startFakeBridge({ ignoreEnd: true }, { timeouts: { closeMs: 200 } });
    const info = await bridge.close();
    assert.equal(info.signal, 'SIGKILL');
  });
});

describe('starting', () => {
  test('the socket and its folder are gone once the bridge is connected', async () => {
    const bridge = await startFakeBridge({ announcePipe: true });
    try {
      const [path] = await nextEvent(bridge, 'log');
      assert.ok(path.length > 0);
      assert.equal(await exists(path), false);
      assert.equal(await exists(dirname(path)), false);
    } finally {
      await bridge.close();
    }
  });

  const failures: { name: string; executable: string; args: string[]; connectMs?: number; error: RegExp; kind: Function; code?: number }[] = [
    { name: 'a missing executable', executable: join(tmpdir(), 'no-such-bridge'), args: [], error: /cannot start .*ENOENT/, kind: MorvaneBridgeError },
    {
      name: 'a bridge that exits before connecting',
      executable: process.execPath,
      args: ['-e', 'console.error("libMorvaneSdk.so: cannot open shared object file"); process.exit(127)'],
      error: /exit code 127.*\n.*cannot open shared object/,
      kind: BridgeExitError,
      code: 127,
    },
    {
      name: 'a bridge that never connects',
      executable: process.execPath,
      args: ['-e', 'setTimeout(() => {}, 20000)'],
      connectMs: 300,
      error: /did not connect within 300 ms/,
      kind: MorvaneBridgeError,
    },
  ];
  test('bad numeric options are a TypeError naming the option, before anything starts', async () => {
    const bad: [string, Partial<StartBridgeOptions>][] = [
      ['timeouts.connectMs', { timeouts: { connectMs: Number.NaN } }],
      ['timeouts.requestMs', { timeouts: { requestMs: -5 } }],
      ['timeouts.closeMs', { timeouts: { closeMs: 'soon' as unknown as number } }],
      ['downloadProgressIntervalMs', { downloadProgressIntervalMs: Infinity }],
      ['outputTailBytes', { outputTailBytes: 1.5 }],
      ['maxHttpBodyBytes', { maxHttpBodyBytes: -1 }],
      ['maxDownloadBytes', { maxDownloadBytes: Number.NaN }],
      ['crossOriginRedirects', { crossOriginRedirects: 'yes' as unknown as boolean }],
      ['restart', { restart: 5 as unknown as StartBridgeOptions['restart'] }],
      ['restart.maxRestarts', { restart: { maxRestarts: -1, withinMs: 1_000 } }],
      ['restart.withinMs', { restart: { maxRestarts: 1, withinMs: Number.NaN } }],
      ['hangTimeoutMs', { hangTimeoutMs: -1 }],
    ];
    for (const [name, options] of bad) {
      const error = await startBridge({ executable: join(tmpdir(), 'never-started'), ...options }).then(
        () => assert.fail(`${name}: started`),
        (e: unknown) => e,
      );
      assert.ok(error instanceof TypeError, `${name}: ${error}`);
      assert.ok((error as Error).message.startsWith(name), `${name}: ${(error as Error).message}`);
    }
  });

  test('a connect limit of Infinity, and one beyond what timers hold, let the bridge connect', async () => {
    for (const connectMs of [Infinity, 2 ** 31]) {
      const bridge = await startFakeBridge({}, { timeouts: { connectMs } });
      await bridge.close();
    }
  });

  for (const failure of failures) {
    test(`fails clearly for ${failure.name}`, async () => {
      const started = Date.now();
      const error = await startBridge({
        executable: failure.executable,
        args: failure.args,
        timeouts: { connectMs: failure.connectMs ?? 10_000 },
      }).then(() => assert.fail('started'), (e: unknown) => e);
      assert.ok(error instanceof failure.kind, String(error));
      assert.match((error as Error).message, failure.error);
      if (failure.code !== undefined) assert.equal((error as BridgeExitError).code, failure.code);
      assert.ok(Date.now() - started < 5_000);
    });
  }
});

describe('lines from the bridge', () => {
  test('fatal and malformed lines are reported, not thrown, and requests go on', async () => {
    const script: FakeScript = {
      onConnect: [
        { raw: 'garbage' },
        { raw: '[1,2]' },
        { raw: '{"type":"response","id":7}' },
        { fatal: 'unknown event frob' },
        { raw: '{"type":"request","from":"client","to":"host","id":"0","method":"frob","params":{}}' },
        { raw: '{"type":"request","from":"client","to":"host","id":"1","method":"downloadFile","params":{"url":"x"}}' },
        { raw: '{"type":"event","from":"client","to":"host","id":"1","method":"frob","params":{}}' },
      ],
    };
    const logged: string[] = [];
    const bridge = await startFakeBridge(script, { logger: { warn: (message) => logged.push(message) } });
    try {
      const fatal = collect(bridge, 'fatal');
      const malformed = collect(bridge, 'malformed');
      assert.equal(await bridge.getSdkVersion(), '9.8.7');
      assert.deepEqual(fatal, [['unknown event frob']]);
      assert.deepEqual(
        malformed.map(([line, problem]) => [line.slice(0, 12), problem]),
        [
          ['garbage', malformed[0][1]],
          ['[1,2]', 'not a JSON object'],
          ['{"type":"res', 'response without "id" text'],
          ['{"type":"req', 'unknown request "frob"'],
          ['{"type":"req', 'downloadFile request with unusable params'],
          ['{"type":"eve', 'unknown event "frob"'],
        ],
      );
      assert.match(malformed[0][1], /not JSON/);
      assert.equal(logged.filter((message) => message.includes('unusable line')).length, 6);
    } finally {
      await bridge.close();
    }
  });

  test('a faulty logger does not disturb the bridge', async () => {
    const bridge = await startFakeBridge(
      { onConnect: [{ raw: 'garbage' }, { reverse: { id: '0', method: 'log', params: { log: 'hi' } } }] },
      { logger: { warn: () => { throw new Error('disk full'); }, info: () => { throw new Error('disk full'); } } },
    );
    try {
      assert.equal(await bridge.getSdkVersion(), '9.8.7');
    } finally {
      await bridge.close();
    }
  });
});

describe('serving the library', () => {
  let server: Server;
  let base: string;
  let folder: string;
  const packageBytes = Buffer.alloc(512 * 1024, 7);
  before(async () => {
    folder = await mkdtemp(join(tmpdir(), 'bridge-serve-'));
    ({ server, url: base } = await startHttpServer(async (req, res) => {
      if (req.url === '/config') {
        res.setHeader('content-type', 'application/json');
        res.end('{"drivers":[]}');
      } else if (req.url === '/slow') {
        res.writeHead(200, { 'content-length': String(packageBytes.length) });
        for (let offset = 0; offset < packageBytes.length && !res.destroyed; offset += 16 * 1024) {
          res.write(packageBytes.subarray(offset, offset + 16 * 1024));
          await delay(50);
        }
        res.end();
      } else {
        res.writeHead(200, { 'content-length': String(packageBytes.length) }).end(packageBytes);
      }
    }));
  });
  after(async () => {
    await stopHttpServer(server);
    await rm(folder, { recursive: true, force: true });
  });

  /** The host's events as the fake bridge received them, echoed back as log lines. */
  function received(bridge: MorvaneBridge) {
    const events: Record<string, any>[] = [];
    bridge.on('log', (line) => {
      if (line.startsWith('{')) events.push(JSON.parse(line));
    });
    return events;
  }

  test('an HTTP request is answered with an "httpRequest" event of seven keys', async () => {
    const cases: { name: string; url: () => Promise<string>; result: number; status: number; body: string }[] = [
      { name: 'success', url: async () => `${base}/config`, result: 0, status: 200, body: '{"drivers":[]}' },
      { name: 'network failure', url: refusedUrl, result: -3001, status: 0, body: '' },
    ];
    for (const { name, url, result, status, body } of cases) {
      const params = { url: await url(), method: 'GET', headers: { accept: 'application/json' }, body: '', sdkTaskId: -12, sdkData: '18446744073709551615' };
      const bridge = await startFakeBridge({ echoEvents: true, onConnect: [{ reverse: { id: '0', method: 'httpRequest', params } }] });
      try {
        const events = received(bridge);
        await eventually(() => events.length === 1);
        const [event] = events;
        assert.deepEqual([event.type, event.from, event.to, event.id, event.method], ['event', 'host', 'client', '0', 'httpRequest'], name);
        assert.deepEqual(Object.keys(event.params).sort(), ['body', 'errorMsg', 'headers', 'httpStatusCode', 'result', 'sdkData', 'sdkTaskId']);
        assert.deepEqual([event.params.result, event.params.httpStatusCode, event.params.body], [result, status, body], name);
        assert.deepEqual([event.params.sdkTaskId, event.params.sdkData], [-12, '18446744073709551615']);
        if (result !== 0) assert.notEqual(event.params.errorMsg, '');
      } finally {
        await bridge.close();
      }
    }
  });

  test('a download is written to its path and answered with progress and a final event', async () => {
    const path = join(folder, 'full', 'driver.pkg');
    const params = { url: `${base}/slow`, path, sdkTaskId: 4, sdkData: '9007199254740993' };
    const bridge = await startFakeBridge(
      { echoEvents: true, onConnect: [{ reverse: { id: '3', method: 'downloadFile', params } }] },
      { downloadProgressIntervalMs: 0, downloadDirs: [folder] },
    );
    try {
      const events = received(bridge);
      await eventually(() => events.some((event) => event.params.isFinish), 10_000);
      const final = events.at(-1)!;
      assert.deepEqual(final.params, { sdkTaskId: 4, progress: 100, isFinish: true, result: 0, httpStatusCode: 200, errorMsg: '', sdkData: '9007199254740993' });
      assert.ok(events.length > 2);
      assert.ok(events.every((event) => event.method === 'downloadFile' && event.id === '3'));
      assert.deepEqual(await readFile(path), packageBytes);
    } finally {
      await bridge.close();
    }
  });

  test('a cancelled download leaves no file and gets no final event', async () => {
    const path = join(folder, 'cancelled', 'driver.pkg');
    const script: FakeScript = {
      echoEvents: true,
      onConnect: [
        { reverse: { id: '0', method: 'downloadFile', params: { url: `${base}/slow`, path, sdkTaskId: 8, sdkData: '1' } } },
        { awaitEvent: 'downloadFile' },
        { reverse: { id: '1', method: 'cancelDownloadFile', params: { sdkTaskId: 8 } } },
      ],
    };
    const bridge = await startFakeBridge(script, { downloadProgressIntervalMs: 0, downloadDirs: [folder] });
    try {
      const events = received(bridge);
      await nextEvent(bridge, 'download', (activity) => activity.kind === 'cancelled');
      assert.equal(await exists(path), false);
      await delay(100);
      assert.ok(events.length > 0 && events.every((event) => !event.params.isFinish));
    } finally {
      await bridge.close();
    }
  });

  test('close() stops running downloads and removes their files', async () => {
    const path = join(folder, 'closed', 'driver.pkg');
    const script: FakeScript = {
      onConnect: [{ reverse: { id: '0', method: 'downloadFile', params: { url: `${base}/slow`, path, sdkTaskId: 1, sdkData: '1' } } }],
    };
    const bridge = await startFakeBridge(script, { downloadDirs: [folder] });
    await nextEvent(bridge, 'download', (activity) => activity.kind === 'progress');
    assert.equal(partialFilesIn(dirname(path)).length, 1);
    await bridge.close();
    assert.deepEqual(partialFilesIn(dirname(path)), []);
    assert.equal(await exists(path), false);
  });

  test('listeners that throw are reported to the logger, and the bridge and its downloads carry on', async () => {
    const path = join(folder, 'listeners', 'driver.pkg');
    const script: FakeScript = {
      echoEvents: true,
      onConnect: [
        { raw: 'garbage' },
        { fatal: 'unknown event frob' },
        { reverse: { id: '0', method: 'downloadFile', params: { url: `${base}/package`, path, sdkTaskId: 5, sdkData: '5' } } },
      ],
    };
    const escaped: unknown[] = [];
    const record = (error: unknown) => escaped.push(error);
    process.on('uncaughtException', record);
    process.on('unhandledRejection', record);
    const errors: string[] = [];
    try {
      const bridge = await startFakeBridge(script, { downloadDirs: [folder], logger: { error: (message) => errors.push(message) } });
      const events = ['download', 'wire', 'log', 'malformed', 'fatal', 'exit'] as const;
      for (const event of events) {
        bridge.on(event, () => {
          throw new Error(`${event} listener broke`);
        });
      }
      const finals = received(bridge);
      await eventually(() => finals.some((event) => event.params.isFinish));
      assert.deepEqual([finals.at(-1)!.params.result, finals.at(-1)!.params.errorMsg], [0, '']);
      assert.deepEqual(await readFile(path), packageBytes);
      assert.equal(await bridge.getSdkVersion(), '9.8.7');
      await bridge.close();
      await delay(20);
      assert.deepEqual(escaped, []);
      for (const event of events) {
        assert.ok(errors.some((message) => message.includes(`a "${event}" listener threw: Error: ${event} listener broke`)), event);
      }
    } finally {
      process.off('uncaughtException', record);
      process.off('unhandledRejection', record);
    }
  });

  test('downloads may write only inside the folder last given to setDriverDownloadDir, or one allowed by option', async () => {
    const [given, refused, allowed] = ['given', 'refused', 'allowed'].map((name) => join(folder, 'folders', name));
    const download = (sdkTaskId: number, path: string): FakeAction => ({
      reverse: { id: String(sdkTaskId), method: 'downloadFile', params: { url: `${base}/package`, path, sdkTaskId, sdkData: '0' } },
    });
    // Each getSdkVersion call starts the downloads of one step.
    const steps: { name: string; before?: (bridge: MorvaneBridge) => Promise<void>; downloads: [number, string, number][] }[] = [
      { name: 'no folder given yet', downloads: [[1, join(given, 'a.pkg'), -1000], [2, join(allowed, 'a.pkg'), 0]] },
      {
        name: 'a folder given relative to the bridge\'s working directory',
        before: (bridge) => bridge.setDriverDownloadDir(join('folders', 'given')),
        downloads: [[3, join(given, 'b.pkg'), 0], [4, join(refused, 'b.pkg'), -1000]],
      },
      {
        name: 'a folder the library refused',
        before: (bridge) => assert.rejects(bridge.setDriverDownloadDir(refused), BridgeStatusError),
        downloads: [[5, join(given, 'c.pkg'), 0], [6, join(refused, 'c.pkg'), -1000], [7, join(allowed, 'c.pkg'), 0]],
      },
    ];
    const script: FakeScript = {
      echoEvents: true,
      calls: {
        getSdkVersion: steps.map(({ downloads }) => [...downloads.map(([task, path]) => download(task, path)), { respond: { status: 0, data: 'x' } }]),
        setDriverDownloadDir: [[{ respond: { status: 0 } }], [{ respond: { status: -1006, statusString: 'error_sdk_status' } }]],
      },
    };
    const bridge = await startFakeBridge(script, { cwd: folder, downloadDirs: [allowed] });
    try {
      const finals = received(bridge);
      for (const { name, before, downloads } of steps) {
        await before?.(bridge);
        await bridge.getSdkVersion();
        const tasks = downloads.map(([task]) => task);
        await eventually(() => tasks.every((task) => finals.some((event) => event.params.sdkTaskId === task && event.params.isFinish)));
        for (const [task, path, result] of downloads) {
          const final = finals.find((event) => event.params.sdkTaskId === task && event.params.isFinish)!;
          assert.equal(final.params.result, result, `${name}: ${path}: ${final.params.errorMsg}`);
          assert.equal(await exists(path), result === 0, `${name}: ${path}`);
        }
      }
    } finally {
      await bridge.close();
    }
  });

  test('log lines go to "log" listeners and to the logger at their level', async () => {
    const logged: [string, string][] = [];
    const logger = Object.fromEntries(
      ['debug', 'info', 'warn', 'error'].map((level) => [level, (message: string) => logged.push([level, message])]),
    );
    const lines = ['first', '[warning] Grafiktreiber geprüft', '[debug] task 3', '[error] md5', '[verbose] x', ''];
    const script: FakeScript = {
      onConnect: lines.map((log, index): FakeAction => ({ reverse: { id: String(index), method: 'log', params: { log } } })),
    };
    const bridge = await startFakeBridge(script, { logger });
    try {
      const received = collect(bridge, 'log');
      await eventually(() => received.length === lines.length);
      assert.deepEqual(received.map(([line]) => line), lines);
      assert.deepEqual(
        logged.filter(([, message]) => message.startsWith('[sdk]')),
        [
          ['info', '[sdk] first'],
          ['warn', '[sdk] [warning] Grafiktreiber geprüft'],
          ['debug', '[sdk] [debug] task 3'],
          ['error', '[sdk] [error] md5'],
          ['info', '[sdk] [verbose] x'],
          ['info', '[sdk] '],
        ],
      );
      // A log request is not answered.
      await delay(50);
      assert.deepEqual(collect(bridge, 'wire'), []);
    } finally {
      await bridge.close();
    }
  });
});

describe('backpressure', () => {
  test('large writes to a bridge that reads slowly all arrive intact and in order', async () => {
    const script: FakeScript = { onConnect: [{ pauseReading: 300 }], methods: { setDriverDownloadDir: [{ echoParams: true }] } };
    await withBridge(script, async (bridge) => {
      const wire = collect(bridge, 'wire');
      const dirs = Array.from({ length: 24 }, (_, index) => `/drivers/${index}/`.padEnd(512 * 1024, String.fromCharCode(65 + index)));
      await Promise.all(dirs.map((dir) => bridge.setDriverDownloadDir(dir)));
      const echoed = wire
        .filter(([direction]) => direction === 'in')
        .map(([, line]) => JSON.parse(line).result.data.dir);
      assert.equal(echoed.length, dirs.length);
      assert.ok(echoed.every((dir, index) => dir === dirs[index]));
    }, { timeouts: { requestMs: 20_000 } });
  });
});
