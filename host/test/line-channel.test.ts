import assert from 'node:assert/strict';
import { afterEach, beforeEach, describe } from 'node:test';
import { test } from './timed-test';
import { LineChannel } from '../src/line-channel';
import { delay, eventually, socketPair } from './helpers';

describe('LineChannel', () => {
  let pair: Awaited<ReturnType<typeof socketPair>>;
  beforeEach(async () => {
    pair = await socketPair();
  });
  afterEach(() => {
    pair.near.destroy();
    pair.far.destroy();
    pair.server.close();
  });

  function open(maxLineLength?: number) {
    const lines: string[] = [];
    const oversized: number[] = [];
    let closed = 0;
    const channel = new LineChannel(
      pair.near,
      { line: (line) => lines.push(line), oversized: (length) => oversized.push(length), closed: () => closed++ },
      maxLineLength,
    );
    return { channel, lines, oversized, closed: () => closed };
  }

  const framing: { name: string; chunks: (string | Buffer)[]; lines: string[]; oversized?: number; max?: number }[] = [
    { name: 'two lines in one chunk', chunks: ['a\nb\n'], lines: ['a', 'b'] },
    { name: 'a line over three chunks', chunks: ['ab', 'c\nd', 'e\n'], lines: ['abc', 'de'] },
    { name: 'empty lines are skipped', chunks: ['\n\nx\n\n'], lines: ['x'] },
    { name: 'an unfinished line waits', chunks: ['done\npart'], lines: ['done'] },
    { name: 'a character split between chunks', chunks: [Buffer.from([0x22, 0xc3]), Buffer.from([0xa9, 0x22, 0x0a])], lines: ['"é"'] },
    { name: 'an overlong line is dropped whole', chunks: ['0123456789AB\nok\n'], lines: ['ok'], oversized: 1, max: 10 },
    { name: 'an overlong line over chunks is dropped up to its end', chunks: ['0123456789', 'ABCDEF', 'GH\nok\n'], lines: ['ok'], oversized: 1, max: 10 },
  ];
  for (const { name, chunks, lines: expected, oversized = 0, max } of framing) {
    test(`framing: ${name}`, async () => {
      const { lines, oversized: dropped } = open(max);
      for (const chunk of chunks) {
        pair.far.write(chunk);
        await delay(15);
      }
      await eventually(() => lines.length >= expected.length);
      await delay(20);
      assert.deepEqual(lines, expected);
      assert.equal(dropped.length, oversized);
    });
  }

  test('writes one line per message and resolves once written', async () => {
    const { channel } = open();
    pair.far.setEncoding('utf8');
    let received = '';
    pair.far.on('data', (chunk: string) => (received += chunk));
    await channel.send('{"a":1}');
    await channel.send('{"b":"é"}');
    await eventually(() => received.length >= 18);
    assert.equal(received, '{"a":1}\n{"b":"é"}\n');
  });

  test('holds writes back while the reader is slow, then delivers all in order', async () => {
    const { channel } = open();
    pair.far.pause();
    const lineSize = 256 * 1024;
    const sent = Array.from({ length: 40 }, (_, index) => `${index}:`.padEnd(lineSize, String.fromCharCode(97 + (index % 26))));
    const writes = sent.map((line) => channel.send(line));
    await delay(50);
    // Without backpressure whatever the system does not take would sit in the socket's buffer.
    assert.ok(channel.queuedLines > 0, `queued ${channel.queuedLines}`);
    assert.ok(pair.near.writableLength <= 2 * (lineSize + 1), `buffered ${pair.near.writableLength}`);

    let received = '';
    pair.far.setEncoding('utf8');
    pair.far.on('data', (chunk: string) => (received += chunk));
    pair.far.resume();
    await Promise.all(writes);
    await eventually(() => received.length === sent.length * (lineSize + 1));
    assert.deepEqual(received.split('\n').slice(0, -1), sent);
    assert.equal(channel.queuedLines, 0);
  });

  test('queued and later writes reject once the pipe closes', async () => {
    const state = open();
    pair.far.pause();
    const big = 'x'.repeat(4 * 1024 * 1024);
    const writes = [state.channel.send(big), state.channel.send(big), state.channel.send('last')];
    await delay(20);
    pair.far.destroy();
    const outcomes = await Promise.allSettled(writes);
    assert.equal(outcomes[2].status, 'rejected');
    await eventually(() => state.closed() === 1);
    await assert.rejects(state.channel.send('after'));
  });
});
