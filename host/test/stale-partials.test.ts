// Temporary download files left by a host that was killed are removed when their folder is
// allowed again; nothing else ever is.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { existsSync } from 'node:fs';
import { mkdir, mkdtemp, readdir, rm, symlink, utimes, writeFile } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, before, describe } from 'node:test';
import { partialGraceMs, removeStalePartialFiles, type SignalProcess } from '../src/services/stale-partials';
import { startFakeBridge } from './helpers';
import { test } from './timed-test';
import { underWine } from './wine';

/** The pid of a process that has ended. */
function endedPid(): number {
  const pid = Number(execFileSync(process.execPath, ['-e', 'process.stdout.write(String(process.pid))']));
  assert.ok(pid > 0);
  return pid;
}

/** Writes a file last modified `ageMs` ago (by default well past the grace period). */
async function plant(file: string, ageMs = 2 * partialGraceMs): Promise<void> {
  await mkdir(join(file, '..'), { recursive: true });
  await writeFile(file, 'x');
  const when = new Date(Date.now() - ageMs);
  await utimes(file, when, when);
}

/** A signal function that answers for every pid as a process.kill that fails with `code` would. */
function failingWith(code: string): SignalProcess {
  return () => {
    throw Object.assign(new Error(`kill: ${code}`), { code });
  };
}

describe('removing stale partial files', () => {
  let work: string;
  before(async () => {
    work = await mkdtemp(join(tmpdir(), 'stale-partials-'));
  });
  after(async () => {
    await rm(work, { recursive: true, force: true });
  });

  test('removes only the temporary files of processes that have ended', async () => {
    const folder = await mkdtemp(join(work, 'dl-'));
    const dead = endedPid();
    const alive = process.ppid;
    const files: { name: string; removed: boolean }[] = [
      { name: `driver.zip.${dead}-0123abcd.part`, removed: true },
      { name: `sub/deeper/driver.zip.${dead}-89abcdef.part`, removed: true },
      { name: `driver.zip.${process.pid}-0123abcd.part`, removed: false },
      { name: `driver.zip.${alive}-0123abcd.part`, removed: false },
      { name: 'driver.zip', removed: false },
      { name: 'driver.zip.part', removed: false },
      { name: `driver.zip.${dead}-nothex00.part`, removed: false },
      { name: `driver.zip.${dead}-0123abcd.part.bak`, removed: false },
      { name: `notes.${dead}-0123abcd.txt`, removed: false },
    ];
    for (const { name } of files) await plant(join(folder, name));
    // A folder that looks like a partial file is not one.
    await mkdir(join(folder, `folder.${dead}-0123abcd.part`));
    const removed = await removeStalePartialFiles([folder]);
    for (const { name, removed: gone } of files) {
      assert.equal(existsSync(join(folder, name)), !gone, name);
    }
    assert.equal(removed.length, files.filter((file) => file.removed).length);
    assert.ok(existsSync(join(folder, `folder.${dead}-0123abcd.part`)));
  });

  // Tests run as root, whose kill(pid, 0) never fails with EPERM: the answers are made up here.
  const answers: { name: string; signal: SignalProcess; ageMs: number; removed: boolean }[] = [
    { name: 'a process that is gone (ESRCH)', signal: failingWith('ESRCH'), ageMs: 2 * partialGraceMs, removed: true },
    { name: "another user's process (EPERM) runs", signal: failingWith('EPERM'), ageMs: 2 * partialGraceMs, removed: false },
    { name: 'a process that answers runs', signal: () => undefined, ageMs: 2 * partialGraceMs, removed: false },
    // Another host in another PID namespace: its pid means nothing here, its writes do.
    { name: 'a file written to within the grace period stays, pid or not', signal: failingWith('ESRCH'), ageMs: partialGraceMs - 60_000, removed: false },
    { name: 'a file modified in the future stays', signal: failingWith('ESRCH'), ageMs: -60_000, removed: false },
  ];
  for (const { name, signal, ageMs, removed } of answers) {
    test(`judges a partial file by its process and its age: ${name}`, async () => {
      const folder = await mkdtemp(join(work, 'dl-'));
      // A pid that is surely not this process; the signal function decides whether it runs.
      const file = join(folder, `driver.zip.${process.pid + 1}-0123abcd.part`);
      await plant(file, ageMs);
      assert.deepEqual(await removeStalePartialFiles([folder], { signal }), removed ? [file] : []);
      assert.equal(existsSync(file), !removed);
    });
  }

  test('does not follow links out of the folder', { skip: underWine && 'Wine makes no symbolic links' }, async () => {
    const folder = await mkdtemp(join(work, 'dl-'));
    const outside = await mkdtemp(join(work, 'outside-'));
    const dead = endedPid();
    const foreign = join(outside, `theirs.zip.${dead}-0123abcd.part`);
    await plant(foreign);
    await symlink(outside, join(folder, 'link-out'));
    await symlink(foreign, join(folder, `alias.zip.${dead}-0123abcd.part`));
    await removeStalePartialFiles([folder]);
    assert.deepEqual(await readdir(outside), [`theirs.zip.${dead}-0123abcd.part`]);
  });

  test('setDriverDownloadDir clears the folder it allows of stale partial files', async () => {
    const folder = await mkdtemp(join(work, 'dl-'));
    const stale = join(folder, `driver.zip.${endedPid()}-0123abcd.part`);
    await plant(stale);
    const bridge = await startFakeBridge({});
    try {
      await bridge.setDriverDownloadDir(folder);
      assert.equal(existsSync(stale), false);
    } finally {
      await bridge.close();
    }
  });
});
