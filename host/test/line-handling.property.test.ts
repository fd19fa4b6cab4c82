// Whatever the bridge writes, and however the pipe cuts it into chunks, the package neither
// throws nor leaves a request waiting forever, and reports every line it cannot use.
import assert from 'node:assert/strict';
import type { ChildProcess } from 'node:child_process';
import { EventEmitter } from 'node:events';
import type { Socket } from 'node:net';
import { describe } from 'node:test';
import fc from 'fast-check';
import { test } from './timed-test';
import { MorvaneBridge } from '../src/bridge';
import { LineChannel } from '../src/line-channel';
import { resolveOptions } from '../src/options';
import { OutputTail } from '../src/output-tail';
import { parseLine } from '../src/protocol';
import { delay, socketPair } from './helpers';

async function connectedPair(): Promise<{ near: Socket; far: Socket; close(): void }> {
  const { server, near, far } = await socketPair();
  far.setNoDelay(true);
  return {
    near,
    far,
    close() {
      near.destroy();
      far.destroy();
      server.close();
    },
  };
}

/** Cuts bytes at the given offsets (taken modulo their length). */
function cut(bytes: Buffer, offsets: number[]): Buffer[] {
  const points = [...new Set(offsets.map((offset) => offset % (bytes.length + 1)))].sort((a, b) => a - b);
  const chunks: Buffer[] = [];
  let start = 0;
  for (const point of [...points, bytes.length]) {
    if (point > start) chunks.push(bytes.subarray(start, point));
    start = Math.max(start, point);
  }
  return chunks;
}

/** Writes each chunk on its own, so the reading side sees the cuts. */
async function writeChunks(socket: Socket, chunks: Buffer[]): Promise<void> {
  for (const chunk of chunks) {
    socket.write(chunk);
    await delay(1);
  }
}

/** Catches what escapes to the process while a property runs. */
function watchProcess(): { escaped: unknown[]; stop(): void } {
  const escaped: unknown[] = [];
  const onError = (error: unknown) => escaped.push(error);
  process.on('uncaughtException', onError);
  process.on('unhandledRejection', onError);
  return {
    escaped,
    stop() {
      process.off('uncaughtException', onError);
      process.off('unhandledRejection', onError);
    },
  };
}

/** Stands in for the bridge process: it exits when killed or when told to. */
class FakeChild extends EventEmitter {
  exitCode: number | null = null;
  signalCode: NodeJS.Signals | null = null;
  readonly pid = 0;
  kill(signal: NodeJS.Signals = 'SIGTERM'): boolean {
    if (this.exitCode === null && this.signalCode === null) {
      this.signalCode = signal;
      this.emit('exit', null, signal);
      this.emit('close', null, signal);
    }
    return true;
  }
  exit(code: number): void {
    this.exitCode = code;
    this.emit('exit', code, null);
    this.emit('close', code, null);
  }
}

const cuts = (most: number) => fc.array(fc.nat(), { maxLength: most });
const lineText = fc.oneof(fc.string(), fc.fullUnicodeString(), fc.string({ unit: 'binary' }));

describe('line framing under any cuts', () => {
  test('every non-empty line arrives whole and in order', async () => {
    await fc.assert(
        fc.asyncProperty(
          fc.array(lineText.map((text) => text.replace(/\n/g, '')), { maxLength: 12 }),
          cuts(40),
          async (lines, offsets) => {
            const pair = await connectedPair();
            const received: string[] = [];
            new LineChannel(pair.near, {
              line: (line) => received.push(line),
              oversized: () => assert.fail('no line here is too long'),
              closed: () => {},
            });
            // A marker line tells when everything before it has arrived.
            const marker = `end-${Math.random()}`;
            await writeChunks(pair.far, cut(Buffer.from([...lines, marker].join('\n') + '\n'), offsets));
            const deadline = Date.now() + 5_000;
            while (received[received.length - 1] !== marker && Date.now() < deadline) await delay(2);
            pair.close();
            assert.deepEqual(received, [...lines.filter((line) => line.length > 0), marker]);
          },
        ),
        { numRuns: 100 },
      );
  });

  test('any bytes, cut anywhere, come out as one line per line feed and never throw', async () => {
    const watch = watchProcess();
    try {
      await fc.assert(
        fc.asyncProperty(
          fc.array(fc.uint8Array({ maxLength: 40 }).map((bytes) => Buffer.from(bytes.filter((b) => b !== 0x0a))), {
            maxLength: 10,
          }),
          cuts(8),
          fc.integer({ min: 4, max: 64 }),
          async (lines, offsets, maxLineLength) => {
            const pair = await connectedPair();
            const received: string[] = [];
            let oversized = 0;
            new LineChannel(
              pair.near,
              { line: (line) => received.push(line), oversized: () => oversized++, closed: () => {} },
              maxLineLength,
            );
            const marker = Buffer.from('end');
            const bytes = Buffer.concat([...lines, marker].flatMap((line) => [line, Buffer.from('\n')]));
            await writeChunks(pair.far, cut(bytes, offsets));
            const deadline = Date.now() + 5_000;
            while (received[received.length - 1] !== 'end' && Date.now() < deadline) await delay(2);
            pair.close();
            const nonEmpty = lines.filter((line) => line.length > 0).length;
            // Every line is either handed over or reported too long; none is split or merged.
            assert.equal(received.length - 1 + oversized, nonEmpty);
          },
        ),
        { numRuns: 60 },
      );
      assert.deepEqual(watch.escaped, []);
    } finally {
      watch.stop();
    }
  });
});

// Lines a misbehaving bridge might write: messages of every type with members of any shape,
// answers to the requests in flight (ids "1" to "3") and to none, and text that is not JSON.
const anyValue = fc.oneof(fc.jsonValue(), fc.constant(undefined));
const messageLine = fc
  .record({
    type: fc.oneof(fc.constantFrom('response', 'error', 'fatal', 'event', 'request', 'other'), anyValue),
    id: fc.oneof(fc.constantFrom('1', '2', '3', '99', '__proto__', 'constructor'), anyValue),
    method: fc.oneof(
      fc.constantFrom('log', 'httpRequest', 'downloadFile', 'cancelDownloadFile', 'checkDisplayDeviceDriver',
        'updateDisplayDeviceDriver', 'toString'),
      anyValue,
    ),
    params: anyValue,
    result: fc.oneof(
      fc.record({ status: fc.oneof(fc.integer(), anyValue), statusString: anyValue, data: anyValue }, {
        requiredKeys: [],
      }),
      anyValue,
    ),
    error: anyValue,
  }, { requiredKeys: [] })
  .map((message) => JSON.stringify(message));
// Envelopes of the right type and id whose contents are anything.
const envelopeLine = fc
  .record({
    type: fc.constantFrom('response', 'error', 'fatal', 'event', 'request'),
    id: fc.constantFrom('1', '2', '3'),
    method: fc.constantFrom('log', 'httpRequest', 'downloadFile', 'cancelDownloadFile', 'checkDisplayDeviceDriver',
      'updateDisplayDeviceDriver'),
    params: fc.oneof(fc.object(), anyValue),
    result: fc.record({ status: fc.oneof(fc.constant(0), fc.integer()), statusString: anyValue, data: anyValue }, {
      requiredKeys: ['status'],
    }),
    error: fc.oneof(fc.string(), anyValue),
  })
  .map((message) => JSON.stringify(message));
const bridgeLine = fc.oneof(
  { weight: 3, arbitrary: envelopeLine },
  { weight: 3, arbitrary: messageLine },
  { weight: 1, arbitrary: fc.jsonValue().map((value) => JSON.stringify(value)) },
  { weight: 1, arbitrary: lineText.map((text) => text.replace(/\n/g, '')) },
);

describe('message handling under any lines', () => {
  test('no exception escapes, every request settles, unusable lines are reported', async () => {
    const watch = watchProcess();
    try {
      await fc.assert(
        fc.asyncProperty(
          fc.array(bridgeLine, { maxLength: 15 }),
          cuts(6),
          fc.boolean(),
          async (lines, offsets, truncateLast) => {
            const pair = await connectedPair();
            const child = new FakeChild();
            const warnings: string[] = [];
            const options = resolveOptions({
              executable: 'unused',
              logger: { warn: (message: string) => warnings.push(message) },
              fetch: async () => new Response('ok'),
              timeouts: { requestMs: 2_000, closeMs: 200 },
            });
            const bridge = new MorvaneBridge(
              {
                child: child as unknown as ChildProcess,
                socket: pair.near,
                output: new OutputTail(0),
                guard: { setLeftovers: () => {}, release: () => {} },
              },
              options,
            );
            const malformed: string[] = [];
            bridge.on('malformed', (line) => malformed.push(line));
            bridge.on('fatal', () => {});
            try {
              const settled = [bridge.getSdkVersion(), bridge.getDisplayDevices(), bridge.getSdkVersion()].map((call) =>
                call.then(
                  () => 'resolved',
                  () => 'rejected',
                ),
              );
              let text = lines.join('\n');
              if (!truncateLast) text += '\n';
              await writeChunks(pair.far, cut(Buffer.from(text), offsets));
              await delay(20);
              // The bridge ends, as a broken one would: nothing may wait for it any longer.
              child.exit(109);
              const outcomes = await Promise.race([
                Promise.all(settled),
                delay(3_000).then(() => 'hung' as const),
              ]);
              assert.notEqual(outcomes, 'hung', 'a request was still waiting after the bridge exited');
              const complete = truncateLast ? lines.slice(0, -1) : lines;
              const unusable = complete.filter((line) => line.length > 0 && 'problem' in parseLine(line));
              for (const line of unusable) assert.ok(malformed.includes(line), `not reported: ${line}`);
              assert.ok(warnings.length >= unusable.length);
            } finally {
              await bridge.close().catch(() => {});
              pair.close();
            }
          },
        ),
        { numRuns: 40 },
      );
      await delay(50);
      assert.deepEqual(watch.escaped, []);
    } finally {
      watch.stop();
    }
  });
});
