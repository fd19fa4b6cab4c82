// startBridge's options: every wrong one is a TypeError before anything starts, the start-up
// signal, the bridge's environment and the secret it is handed.
import assert from 'node:assert/strict';
import { existsSync, readdirSync } from 'node:fs';
import { mkdtemp, readFile, rm } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { after, before, describe } from 'node:test';
import { test } from './timed-test';
import { startBridge, type StartBridgeOptions } from '../src';
import { childEnvironment } from '../src/child-environment';
import { eventually, fakeBridgePath, isRunning, startFakeBridge } from './helpers';
import { underWine } from './wine';

interface Report {
  pid: number;
  pipe: string;
  argv: string[];
  env: Record<string, string>;
}

let work: string;
let runtimeDir: string;
let savedRuntimeDir: string | undefined;
before(async () => {
  work = await mkdtemp(join(tmpdir(), 'start-options-'));
  // Pipe folders go here, where a test can see that none is left.
  runtimeDir = await mkdtemp(join(tmpdir(), 'rt-'));
  savedRuntimeDir = process.env.XDG_RUNTIME_DIR;
  process.env.XDG_RUNTIME_DIR = runtimeDir;
});
after(async () => {
  if (savedRuntimeDir === undefined) delete process.env.XDG_RUNTIME_DIR;
  else process.env.XDG_RUNTIME_DIR = savedRuntimeDir;
  await rm(work, { recursive: true, force: true });
  await rm(runtimeDir, { recursive: true, force: true });
});

let reports = 0;
function reportPath(): string {
  reports += 1;
  return join(work, `report-${reports}.json`);
}

async function readReport(path: string): Promise<Report> {
  await eventually(() => existsSync(path));
  return JSON.parse(await readFile(path, 'utf8')) as Report;
}


function pipeFoldersLeft(): string[] {
  return readdirSync(runtimeDir);
}

/** Options that start the fake bridge, which writes its report as soon as it runs. */
function fakeOptions(report: string, script: object = {}): StartBridgeOptions {
  return {
    executable: process.execPath,
    args: [fakeBridgePath],
    env: { FAKE_BRIDGE_SCRIPT: JSON.stringify(script), FAKE_BRIDGE_REPORT: report },
    timeouts: { closeMs: 2_000 },
  };
}

async function rejection(promise: Promise<unknown>): Promise<unknown> {
  return promise.then(() => assert.fail('started'), (error: unknown) => error);
}

describe('wrong options', () => {
  const wrong = <T>(value: unknown) => value as T;
  // [the name the message starts with, the options, what else the message says]
  const cases: [string, Record<string, unknown>, RegExp?][] = [
    ['executable', { executable: '' }],
    ['executable', { executable: 42 }],
    ['executable', { executable: undefined }],
    ['args', { args: '--verbose' }],
    ['args[1]', { args: ['a', 1] }],
    ['cwd', { cwd: 5 }],
    ['env', { env: 'A=1' }],
    ['env.PORT', { env: { PORT: 8080 } }],
    ['inheritEnv', { inheritEnv: 'no' }],
    ['fetch', { fetch: 'fetch' }],
    ['logger', { logger: wrong(console.log) }],
    ['logger', { logger: null }],
    ['logger.warn', { logger: { warn: 'loud' } }],
    ['downloadDirs', { downloadDirs: '/tmp/downloads' }],
    ['downloadDirs[0]', { downloadDirs: [''] }],
    ['timeouts', { timeouts: 5_000 }],
    ['timeouts.connect', { timeouts: { connect: 5_000 } }, /did you mean timeouts\.connectMs\?/],
    ['timeouts.connectMs', { timeouts: { connectMs: Number.NaN } }],
    ['timeouts.requestMs', { timeouts: { requestMs: -5 } }],
    ['timeouts.closeMs', { timeouts: { closeMs: 'soon' } }],
    ['downloadProgressIntervalMs', { downloadProgressIntervalMs: Infinity }],
    ['outputTailBytes', { outputTailBytes: 1.5 }],
    ['maxHttpBodyBytes', { maxHttpBodyBytes: -1 }],
    ['maxDownloadBytes', { maxDownloadBytes: Number.NaN }],
    ['crossOriginRedirects', { crossOriginRedirects: 'yes' }],
    ['allowedUrlSchemes', { allowedUrlSchemes: 'https:' }],
    ['allowedUrlSchemes[0]', { allowedUrlSchemes: ['https'] }],
    ['allowedUrlSchemes[1]', { allowedUrlSchemes: ['https:', 'ftp://'] }],
    ['maxConcurrentHttpRequests', { maxConcurrentHttpRequests: 0 }],
    ['maxConcurrentDownloads', { maxConcurrentDownloads: 1.5 }],
    ['httpBodyBudgetBytes', { httpBodyBudgetBytes: 0 }],
    ['signal', { signal: { aborted: false } }],
    ['restart', { restart: 5 }],
    ['restart.maxRestarts', { restart: { maxRestarts: -1, withinMs: 1_000 } }],
    ['restart.withinMs', { restart: { maxRestarts: 1, withinMs: Number.NaN } }],
    ['restart.within', { restart: { maxRestarts: 1, within: 1_000 } }, /did you mean restart\.withinMs\?/],
    ['hangTimeoutMs', { hangTimeoutMs: -1 }],
    ['timeout', { timeout: { connectMs: 5_000 } }, /did you mean timeouts\?/],
    ['Logger', { Logger: {} }, /did you mean logger\?/],
    ['colour', { colour: 'blue' }, /known: executable, args/],
  ];

  test('each is a TypeError naming the option, and nothing is started', async () => {
    for (const [name, options, more] of cases) {
      const report = reportPath();
      const error = await rejection(startBridge({ ...fakeOptions(report), ...options } as StartBridgeOptions));
      assert.ok(error instanceof TypeError, `${name}: ${String(error)}`);
      assert.ok(error.message.startsWith(`${name} `), `${name}: ${error.message}`);
      if (more !== undefined) assert.match(error.message, more);
      assert.equal(existsSync(report), false, `${name}: the bridge was started`);
      assert.deepEqual(pipeFoldersLeft(), [], `${name}: a pipe folder was made`);
    }
  });

  test('options that are not an object are a TypeError', async () => {
    for (const options of [undefined, null, 'bridge']) {
      const error = await rejection(startBridge(options as unknown as StartBridgeOptions));
      assert.ok(error instanceof TypeError && error.message.startsWith('options '), String(error));
    }
  });

  test('undefined values count as left out, and a console-like logger and the new limits are taken', async () => {
    const report = reportPath();
    const bridge = await startBridge({
      ...fakeOptions(report),
      cwd: undefined,
      logger: console,
      env: { ...fakeOptions(report).env, UNSET: undefined },
      allowedUrlSchemes: ['https:'],
      maxConcurrentHttpRequests: 1,
      maxConcurrentDownloads: 1,
      httpBodyBudgetBytes: 1,
    });
    await bridge.close();
    assert.equal('UNSET' in (await readReport(report)).env, false);
  });
});

describe('the start-up signal', () => {
  test('an aborted signal rejects with its reason and starts nothing', async () => {
    const report = reportPath();
    const reason = new Error('not now');
    const error = await rejection(startBridge({ ...fakeOptions(report), signal: AbortSignal.abort(reason) }));
    assert.equal(error, reason);
    assert.equal(existsSync(report), false);
    assert.deepEqual(pipeFoldersLeft(), []);
  });

  test('an abort while the bridge starts kills it, removes the pipe and rejects with the reason', async () => {
    const report = reportPath();
    const controller = new AbortController();
    const starting = rejection(
      startBridge({ ...fakeOptions(report, { neverConnect: true }), signal: controller.signal }),
    );
    const { pid, pipe } = await readReport(report);
    assert.ok(isRunning(pid));
    const reason = new Error('the user closed the window');
    controller.abort(reason);
    assert.equal(await starting, reason);
    await eventually(() => !isRunning(pid));
    if (process.platform !== 'win32') assert.equal(existsSync(dirname(pipe)), false);
    assert.deepEqual(pipeFoldersLeft(), []);
  });

  test('an abort after the start has no effect', async () => {
    const controller = new AbortController();
    const bridge = await startFakeBridge({}, { signal: controller.signal });
    try {
      controller.abort(new Error('too late'));
      assert.equal(await bridge.getSdkVersion(), '9.8.7');
      assert.equal(bridge.exitStatus, undefined);
    } finally {
      await bridge.close();
    }
  });
});

describe("the bridge's environment", () => {
  const inherited = 'MORVANE_TEST_INHERITED';
  before(() => {
    process.env[inherited] = 'from the host';
  });
  after(() => {
    delete process.env[inherited];
  });

  test('by default it is this process environment plus env; the secret is fresh, in the environment only', async () => {
    const secrets: string[] = [];
    for (let run = 0; run < 2; run += 1) {
      const report = reportPath();
      const options = fakeOptions(report);
      const bridge = await startBridge({ ...options, env: { ...options.env, MORVANE_PIPE_SECRET: 'chosen', EXTRA: 'x' } });
      await bridge.close();
      const { env, argv, pipe } = await readReport(report);
      assert.equal(env[inherited], 'from the host');
      assert.equal(env.EXTRA, 'x');
      assert.equal(env.MORVANE_PIPE, pipe);
      assert.match(env.MORVANE_PIPE_SECRET, /^[0-9a-f]{64}$/);
      assert.ok(!argv.some((arg) => arg.includes(env.MORVANE_PIPE_SECRET)), 'the secret is on the command line');
      secrets.push(env.MORVANE_PIPE_SECRET);
    }
    assert.notEqual(secrets[0], secrets[1]);
  });

  test('with inheritEnv false it is env and the package variables only', async () => {
    const report = reportPath();
    const options = fakeOptions(report);
    // Windows Node refuses to start under Wine without it.
    const wineNeeds = underWine ? { NODE_SKIP_PLATFORM_CHECK: '1' } : {};
    const bridge = await startBridge({ ...options, env: { ...options.env, ...wineNeeds }, inheritEnv: false });
    assert.equal(await bridge.getSdkVersion(), '9.8.7');
    await bridge.close();
    const { env } = await readReport(report);
    const given = ['FAKE_BRIDGE_SCRIPT', 'FAKE_BRIDGE_REPORT', 'MORVANE_PIPE', 'MORVANE_PIPE_SECRET', ...Object.keys(wineNeeds)];
    if (process.platform === 'win32') {
      // Node's spawn on Windows adds these from this process when they are missing; Wine adds its own.
      const addedBySpawn = ['homedrive', 'homepath', 'logonserver', 'path', 'systemdrive', 'systemroot', 'temp',
        'userdomain', 'username', 'userprofile', 'windir'];
      for (const name of given) assert.ok(name in env, name);
      const others = Object.keys(env).filter((name) => !given.includes(name) && !(underWine && name.startsWith('WINE')));
      assert.deepEqual(others.filter((name) => !addedBySpawn.includes(name.toLowerCase())), []);
      assert.ok(others.some((name) => name.toLowerCase() === 'systemroot'), 'no SystemRoot');
    } else {
      assert.deepEqual(Object.keys(env).sort(), given.sort());
    }
  });

  test('on Windows, without inheritance, SystemRoot and windir come along unless env names them', () => {
    const parent = { SystemRoot: 'C:\\Windows', windir: 'C:\\Windows', PATH: 'C:\\bin' };
    const variables = { MORVANE_PIPE: 'p', MORVANE_PIPE_SECRET: 's' };
    assert.deepEqual(childEnvironment({ inheritEnv: false, env: { A: '1' } }, variables, parent, 'win32'), {
      SystemRoot: 'C:\\Windows', windir: 'C:\\Windows', A: '1', ...variables,
    });
    assert.deepEqual(childEnvironment({ inheritEnv: false, env: { SYSTEMROOT: 'D:\\W' } }, variables, parent, 'win32'), {
      windir: 'C:\\Windows', SYSTEMROOT: 'D:\\W', ...variables,
    });
    assert.deepEqual(childEnvironment({ inheritEnv: false }, variables, { PATH: 'C:\\bin' }, 'win32'), variables);
    assert.deepEqual(childEnvironment({ inheritEnv: false }, variables, parent, 'linux'), variables);
    assert.deepEqual(
      childEnvironment({ env: { MORVANE_PIPE: 'mine', PATH: 'given' } }, variables, parent, 'linux'),
      { ...parent, PATH: 'given', ...variables },
    );
  });
});
