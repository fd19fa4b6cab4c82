// Another local process that reaches the pipe before the bridge, or alongside it: on Windows any
// process can list pipe names. It must get no byte, and the bridge must still get its session.
// The impostor learns the pipe's name from a launcher (fixtures/held-launcher.ts) that holds the
// bridge back until the impostor has had its turn.
import assert from 'node:assert/strict';
import { existsSync } from 'node:fs';
import { mkdtemp, readFile, rm, writeFile } from 'node:fs/promises';
import { connect } from 'node:net';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { after, before, describe } from 'node:test';
import { test } from './timed-test';
import { BridgeStatusError, MorvaneBridgeError, startBridge, type MorvaneBridge } from '../src';
import { eventually, fakeBridgePath, realBridgePath, realBridgeSkip } from './helpers';

const launcherPath = join(__dirname, 'fixtures', 'held-launcher.js');

/** A client of the pipe that records every byte the host sends it. */
function impostor(pipe: string, send: string | undefined, end = false) {
  const received: Buffer[] = [];
  const socket = connect(pipe);
  socket.on('data', (chunk: Buffer) => received.push(chunk));
  // The host may close it while it writes.
  socket.on('error', () => undefined);
  const connected = new Promise<void>((resolve) => socket.once('connect', () => resolve()));
  const closed = new Promise<void>((resolve) => socket.once('close', () => resolve()));
  if (send !== undefined) socket.write(send);
  if (end) socket.end();
  return { received, connected, closed, socket };
}

function within<T>(promise: Promise<T>, ms: number, what: string): Promise<T> {
  let timer: NodeJS.Timeout;
  const late = new Promise<never>((_, reject) => {
    timer = setTimeout(() => reject(new Error(`${what} within ${ms} ms`)), ms);
  });
  return Promise.race([promise, late]).finally(() => clearTimeout(timer));
}

const anotherSecret = 'ab'.repeat(32);
const impostors: { name: string; send?: string; end?: boolean; refusedAlone: boolean }[] = [
  { name: 'connects first and sends nothing', refusedAlone: false },
  {
    name: 'sends a hello line with the wrong secret',
    send: `${JSON.stringify({ type: 'hello', from: 'client', to: 'host', secret: anotherSecret })}\n`,
    refusedAlone: true,
  },
  { name: 'sends a line too long for a hello, without a line feed', send: 'x'.repeat(4096), refusedAlone: true },
  { name: 'sends a short line', send: '{"type":"hello"}\n', refusedAlone: true },
  { name: 'sends part of a line and ends', send: '{"type":"hello","from":"cli', end: true, refusedAlone: true },
];

const bridges: { name: string; command: string[]; skip: string | false }[] = [
  { name: 'the fake bridge', command: [process.execPath, fakeBridgePath], skip: false },
  { name: 'the real bridge', command: [realBridgePath], skip: realBridgeSkip },
];

let work: string;
before(async () => {
  work = await mkdtemp(join(tmpdir(), 'pipe-impostor-'));
});
after(() => rm(work, { recursive: true, force: true }));

for (const bridgeKind of bridges) {
  describe(`an impostor on the pipe, with ${bridgeKind.name}`, { skip: bridgeKind.skip }, () => {
    for (const { name, send, end, refusedAlone } of impostors) {
      test(`one that ${name} gets no byte, and the bridge its session`, async () => {
        const folder = await mkdtemp(join(work, 'run-'));
        const pipeFile = join(folder, 'pipe');
        const goFile = join(folder, 'go');
        const starting = startBridge({
          executable: process.execPath,
          args: [launcherPath, ...bridgeKind.command],
          env: { HELD_LAUNCHER_PIPE_FILE: pipeFile, HELD_LAUNCHER_GO_FILE: goFile },
          timeouts: { connectMs: 10_000, requestMs: 5_000, closeMs: 2_000 },
        });
        let bridge: MorvaneBridge | undefined;
        try {
          await eventually(() => existsSync(pipeFile));
          const pipe = await readFile(pipeFile, 'utf8');
          const intruder = impostor(pipe, send, end);
          await within(intruder.connected, 5_000, 'the impostor did not connect');
          if (refusedAlone) await within(intruder.closed, 5_000, 'the impostor was not turned away');

          await writeFile(goFile, '');
          bridge = await starting;
          const answer = await bridge.getSdkVersion().catch((error: unknown) => error);
          assert.ok(typeof answer === 'string' || answer instanceof BridgeStatusError, String(answer));

          await within(intruder.closed, 5_000, 'the impostor was not closed once the bridge was in');
          assert.equal(Buffer.concat(intruder.received).length, 0, 'bytes reached the impostor');
        } finally {
          await writeFile(goFile, '');
          await (bridge ?? (await starting.catch(() => undefined)))?.close();
        }
      });
    }
  });
}

describe('an impostor and a bridge that never connects', () => {
  test('the start fails on the connect limit, and the impostor is closed having got no byte', async () => {
    const report = join(work, 'never.json');
    const starting = startBridge({
      executable: process.execPath,
      args: [fakeBridgePath],
      env: { FAKE_BRIDGE_SCRIPT: JSON.stringify({ neverConnect: true }), FAKE_BRIDGE_REPORT: report },
      timeouts: { connectMs: 1_000 },
    });
    const failure = starting.then(() => assert.fail('started'), (error: unknown) => error);
    await eventually(() => existsSync(report));
    const { pipe } = JSON.parse(await readFile(report, 'utf8')) as { pipe: string };
    const intruder = impostor(pipe, undefined);
    await within(intruder.connected, 5_000, 'the impostor did not connect');

    const error = await failure;
    assert.ok(error instanceof MorvaneBridgeError, String(error));
    assert.match(error.message, /did not connect within 1000 ms/);
    await within(intruder.closed, 5_000, 'the impostor was not closed');
    assert.equal(Buffer.concat(intruder.received).length, 0);
    if (process.platform !== 'win32') assert.equal(existsSync(dirname(pipe)), false);
  });
});
