import assert from 'node:assert/strict';
import { describe, test } from 'node:test';
import { DriverUpdateError } from '../src/errors';
import type { UpdateStatus } from '../src/protocol';
import { UpdateJob } from '../src/update-job';

function status(state: number, progress = 0, errorCode = 0): UpdateStatus {
  return { vendorId: '10DE', deviceId: '1F08', state, stateString: `s${state}`, progress, errorCode, errorMsg: errorCode ? 'broken' : '' };
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

  test('result() returns the final report', async () => {
    const job = new UpdateJob('4', { vendorId: '10DE', deviceId: '1F08' }, async () => undefined);
    job.push(status(1, 50));
    job.push(status(10, 100));
    assert.equal((await job.result()).state, 10);
  });

  test('can be iterated only once', async () => {
    const job = new UpdateJob('4', { vendorId: '10DE', deviceId: '1F08' }, async () => undefined);
    job.push(status(10));
    await drain(job);
    await assert.rejects(drain(job).then((outcome) => { throw outcome.error; }), /only once/);
  });
});
