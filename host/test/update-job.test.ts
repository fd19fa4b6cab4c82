import assert from 'node:assert/strict';
import { describe } from 'node:test';
import { test } from './timed-test';
import { DriverUpdateError } from '../src/errors';
import type { UpdateStateCode, UpdateStatus } from '../src/protocol';
import { UpdateJob } from '../src/update-job';

function status(state: number, progress = 0, errorCode = 0): UpdateStatus {
  return { vendorId: '10DE', deviceId: '1F08', state: state as UpdateStateCode, stateString: `s${state}`, progress, errorCode, errorMsg: errorCode ? 'broken' : '' };
}

async function drain(job: UpdateJob): Promise<{ states: number[]; error?: unknown }> {
  const states: number[] = [];
  try {
    for await (const report of job) states.push(report.state);
  } catch (error) {
    return { states, error };
  }
  return { states };
}

describe('UpdateJob', () => {
  const runs: { name: string; states: number[]; yielded: number[]; fails: boolean }[] = [
    { name: 'ends after the finish report', states: [1, 1, 3, 4, 6, 7, 9, 10], yielded: [1, 1, 3, 4, 6, 7, 9, 10], fails: false },
    { name: 'reports after the end are dropped', states: [1, 10, 1, 2], yielded: [1, 10], fails: false },
    { name: 'a download error is yielded, then thrown', states: [1, 2, 1], yielded: [1, 2], fails: true },
    { name: 'an unzip error is yielded, then thrown', states: [1, 3, 4, 5], yielded: [1, 3, 4, 5], fails: true },
    { name: 'an install error is yielded, then thrown', states: [7, 8], yielded: [7, 8], fails: true },
    { name: 'unknown states do not end it', states: [0, 11, 12, 10], yielded: [0, 11, 12, 10], fails: false },
  ];
  for (const { name, states, yielded, fails } of runs) {
    test(`${name} (reports before iteration)`, async () => {
      const ended: number[] = [];
      const job = new UpdateJob('4', { vendorId: '10DE', deviceId: '1F08' }, async () => undefined, () => ended.push(1));
      for (const state of states) job.push(status(state, 0, state % 3 === 2 ? -2008 : 0));
      const outcome = await drain(job);
      assert.deepEqual(outcome.states, yielded);
      assert.equal(outcome.error instanceof DriverUpdateError, fails);
      if (fails) assert.equal((outcome.error as DriverUpdateError).status.state, yielded.at(-1));
      assert.equal(job.finished, true);
      assert.deepEqual(ended, [1]);
    });

    test(`${name} (reports while iterating)`, async () => {
      const job = new UpdateJob('4', { vendorId: '10DE', deviceId: '1F08' }, async () => undefined);
      const outcome = drain(job);
      for (const state of states) {
        await new Promise((resolve) => setImmediate(resolve));
        job.push(status(state, 0, state % 3 === 2 ? -2008 : 0));
      }
      assert.deepEqual((await outcome).states, yielded);
    });
  }

  test('a failure comes after the reports already received', async () => {
    const job = new UpdateJob('4', { vendorId: '10DE', deviceId: '1F08' }, async () => undefined);
    job.push(status(1, 10));
    job.fail(new Error('bridge gone'));
    job.push(status(1, 20));
    const outcome = await drain(job);
    assert.deepEqual(outcome.states, [1]);
    assert.match(String(outcome.error), /bridge gone/);
  });

  test('result() settles with the outcome however the job is consumed', async (t) => {
    const job = () => new UpdateJob('4', { vendorId: '10DE', deviceId: '1F08' }, async () => undefined);
    await t.test('called before any report', async () => {
      const update = job();
      const result = update.result();
      update.push(status(1, 50));
      update.push(status(10, 100));
      assert.equal((await result).state, 10);
    });
    await t.test('after breaking out of the iteration, while the update goes on', async () => {
      const update = job();
      update.push(status(1, 10));
      for await (const report of update) {
        assert.equal(report.progress, 10);
        break;
      }
      assert.equal(update.finished, false);
      update.push(status(1, 60));
      update.push(status(10, 100));
      assert.deepEqual([(await update.result()).state, update.finished], [10, true]);
    });
    await t.test('alongside the iteration, and again', async () => {
      const update = job();
      const drained = drain(update);
      update.push(status(1, 1));
      update.push(status(2, 1, -2008));
      await assert.rejects(update.result(), DriverUpdateError);
      await assert.rejects(update.result(), DriverUpdateError);
      assert.deepEqual((await drained).states, [1, 2]);
    });
  });

  test('after a failure the library may still report: ended waits for its final report', async () => {
    const ended: number[] = [];
    const update = new UpdateJob('5', { vendorId: '10DE', deviceId: '1F08' }, async () => undefined, () => ended.push(1));
    update.push(status(1, 10));
    update.fail(new Error('aborted by the user'));
    update.push(status(1, 20));
    assert.deepEqual(ended, []);
    update.push(status(2, 20, -1003));
    const outcome = await drain(update);
    assert.deepEqual(outcome.states, [1]);
    assert.match(String(outcome.error), /aborted by the user/);
    await assert.rejects(update.result(), /aborted by the user/);
    assert.deepEqual([(await update.ended)?.state, (await update.ended)?.errorCode, update.lastStatus?.progress], [2, -1003, 20]);
    assert.deepEqual(ended, [1]);
  });

  test('ended resolves without a report when the library can report nothing more', async () => {
    const job = new UpdateJob('4', { vendorId: '10DE', deviceId: '1F08' }, async () => undefined);
    job.push(status(1, 10));
    job.abandon(new Error('bridge gone'));
    job.push(status(2, 10, -1003));
    assert.equal(await job.ended, undefined);
    await assert.rejects(job.result(), /bridge gone/);
  });

  test('await using cancels a running update and waits for the library to end it', async () => {
    const cancels: string[] = [];
    const running = new UpdateJob('6', { vendorId: '10DE', deviceId: '1F08' }, async () => {
      cancels.push('6');
      setTimeout(() => running.push(status(2, 30, -1003)), 50);
    });
    const finished = new UpdateJob('7', { vendorId: '10DE', deviceId: '1F08' }, async () => {
      cancels.push('7');
    });
    {
      await using first = running;
      await using second = finished;
      first.push(status(1, 30));
      second.push(status(10, 100));
    }
    assert.deepEqual(cancels, ['6']);
    assert.equal(running.lastStatus?.state, 2);
    assert.equal((await running.ended)?.errorCode, -1003);
  });

  test('can be iterated only once', async () => {
    const job = new UpdateJob('4', { vendorId: '10DE', deviceId: '1F08' }, async () => undefined);
    job.push(status(10));
    await drain(job);
    await assert.rejects(drain(job).then((outcome) => { throw outcome.error; }), /only once/);
  });
});
