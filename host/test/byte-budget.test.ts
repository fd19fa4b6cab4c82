// The budget for the bytes of HTTP answers held in memory: who waits, who goes on, that nobody
// waits forever, and that a bridge that reads slowly holds answers back instead of piling them up.
import assert from 'node:assert/strict';
import { describe } from 'node:test';
import fc from 'fast-check';
import type { MorvaneBridge } from '../src';
import { ByteBudget, type BudgetAccount } from '../src/services/byte-budget';
import type { FakeAction } from './fixtures/fake-bridge';
import { delay, eventually, startFakeBridge } from './helpers';
import { test } from './timed-test';

/** Whether the promise has settled by the time queued reactions have run. */
async function isSettled(promise: Promise<unknown>): Promise<boolean> {
  let settled = false;
  promise.then(
    () => (settled = true),
    () => (settled = true),
  );
  await delay(0);
  return settled;
}

describe('ByteBudget', () => {
  test('takes within the budget go on at once; one past it waits until a release makes room', async () => {
    const budget = new ByteBudget(100);
    const first = budget.account();
    const second = budget.account();
    await first.take(60);
    await second.take(40);
    const third = budget.account();
    const waiting = third.take(10);
    assert.equal(await isSettled(waiting), false);
    second.release();
    assert.equal(await isSettled(waiting), true);
    assert.deepEqual([budget.held, first.held, second.held, third.held], [70, 60, 0, 10]);
  });

  test('one answer alone goes on past the budget', async () => {
    const budget = new ByteBudget(100);
    const alone = budget.account();
    for (let chunk = 0; chunk < 5; chunk++) await alone.take(64);
    assert.equal(budget.held, 320);
    alone.release();
    assert.equal(budget.held, 0);
  });

  test('the oldest holder never waits, so two answers that both need more cannot block each other', async () => {
    const budget = new ByteBudget(100);
    const older = budget.account();
    const younger = budget.account();
    await older.take(50);
    await younger.take(40);
    const youngerMore = younger.take(30);
    assert.equal(await isSettled(youngerMore), false);
    await older.take(30);
    assert.deepEqual([budget.held, older.held], [120, 80]);
    assert.equal(await isSettled(youngerMore), false);
    older.release();
    await youngerMore;
    assert.equal(budget.held, 70);
  });

  test('a waiting take rejects when its signal aborts or its account is released, and frees its place in line', async () => {
    const budget = new ByteBudget(10);
    const holder = budget.account();
    await holder.take(10);
    const gone = new AbortController();
    const aborted = budget.account();
    const abortedTake = aborted.take(5, gone.signal);
    const released = budget.account();
    const releasedTake = released.take(5);
    const later = budget.account();
    const laterTake = later.take(5);
    gone.abort(new Error('timed out'));
    await assert.rejects(abortedTake, /timed out/);
    released.release();
    await assert.rejects(releasedTake, /sent/);
    holder.release();
    await laterTake;
    assert.deepEqual([budget.held, later.held], [5, 5]);
    await assert.rejects(released.take(1), /sent/);
    await assert.rejects(budget.account().take(1, AbortSignal.abort(new Error('gone'))), /gone/);
  });

  test('whatever the sizes and the order of events, all answers but one hold no more than the budget, and every answer ends', async () => {
    const answers = fc.array(fc.array(fc.integer({ min: 1, max: 80 }), { minLength: 1, maxLength: 5 }), { minLength: 1, maxLength: 6 });
    await fc.assert(
      fc.asyncProperty(fc.scheduler(), fc.integer({ min: 1, max: 120 }), answers, async (s, limit, chunksOfAnswers) => {
        const budget = new ByteBudget(limit);
        const accounts: BudgetAccount[] = [];
        let ended = 0;
        const checkHeld = () => {
          const holdings = accounts.map((account) => account.held);
          const total = holdings.reduce((sum, held) => sum + held, 0);
          assert.equal(budget.held, total);
          assert.ok(total - Math.max(0, ...holdings) <= limit, `held ${holdings.join(' + ')} with a budget of ${limit}`);
        };
        const answer = async (chunks: number[], index: number) => {
          await s.schedule(Promise.resolve(), `answer ${index} starts`);
          const account = budget.account();
          accounts.push(account);
          for (const chunk of chunks) {
            await account.take(chunk);
            checkHeld();
            await s.schedule(Promise.resolve(), `answer ${index} reads on`);
          }
          await s.schedule(Promise.resolve(), `answer ${index} is sent`);
          account.release();
          checkHeld();
          ended += 1;
        };
        const all = Promise.all(chunksOfAnswers.map(answer));
        await s.waitAll();
        assert.equal(ended, chunksOfAnswers.length, `answers left waiting: ${s.report().length} scheduled steps`);
        await all;
        assert.equal(budget.held, 0);
      }),
      { numRuns: 300 },
    );
  });
});

describe('the budget through the bridge', () => {
  const chunkBytes = 64 * 1024;
  const bodyBytes = 1024 * 1024;
  const answers = 8;

  /** A fetch whose bodies are read in chunks, counting every byte read from them. */
  function countingFetch() {
    let read = 0;
    const fetch = async () => {
      let sent = 0;
      const body = new ReadableStream<Uint8Array>(
        {
          pull(controller) {
            const chunk = new Uint8Array(Math.min(chunkBytes, bodyBytes - sent)).fill(0x61);
            sent += chunk.length;
            read += chunk.length;
            controller.enqueue(chunk);
            if (sent === bodyBytes) controller.close();
          },
        },
        { highWaterMark: 0 },
      );
      return new Response(body, { headers: { 'content-length': String(bodyBytes) } });
    };
    return { fetch, read: () => read };
  }

  function received(bridge: MorvaneBridge) {
    const events: { params: { result: number; body: string; errorMsg: string } }[] = [];
    bridge.on('log', (line) => {
      if (line.startsWith('{')) events.push(JSON.parse(line));
    });
    return events;
  }

  test('while the bridge does not read, answers stop reading their bodies at the budget; all arrive once it reads', async () => {
    const budgetBytes = 2 * bodyBytes;
    const counting = countingFetch();
    const requests: FakeAction[] = Array.from({ length: answers }, (_, index) => ({
      reverse: { id: String(index), method: 'httpRequest', params: { url: `http://site.test/${index}`, method: 'GET', headers: {}, body: '', sdkTaskId: index, sdkData: '0' } },
    }));
    const bridge = await startFakeBridge(
      { echoEvents: true, onConnect: [{ pauseReading: 3_000 }, ...requests] },
      { fetch: counting.fetch, httpBodyBudgetBytes: budgetBytes, maxConcurrentHttpRequests: answers },
    );
    try {
      const events = received(bridge);
      await eventually(() => counting.read() >= budgetBytes);
      await delay(500);
      // The budget; the rest of the oldest answer, which never waits; and a chunk in hand per
      // answer that waits for room. Without the budget, or with answers released before they are
      // sent, all 8 MiB would be read.
      const bound = budgetBytes + bodyBytes + answers * chunkBytes;
      assert.ok(counting.read() <= bound, `${counting.read()} bytes read while the bridge read nothing (bound ${bound})`);
      assert.equal(events.length, 0, 'the bridge read while it should not have');
      await eventually(() => events.length === answers, 10_000);
      assert.ok(events.every((event) => event.params.result === 0 && event.params.body.length === bodyBytes), events.map((event) => event.params.errorMsg).join());
    } finally {
      await bridge.close();
    }
  });
});
