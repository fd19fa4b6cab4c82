// The temporary file of a download removes only what it wrote itself.
import assert from 'node:assert/strict';
import { mkdtemp, readdir, readFile, rm, writeFile } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { PartialFile } from '../src/services/partial-file';
import { test } from './timed-test';

test('discarding leaves a file that took the partial file\'s name since', {
  // Windows keeps the name of a file removed while it is open: the "new" file is the same one.
  skip: process.platform === 'win32' && 'a file removed while open keeps its name on Windows',
}, async () => {
  const folder = await mkdtemp(join(tmpdir(), 'partial-file-'));
  try {
    const file = await PartialFile.create(join(folder, 'driver.zip'), join(folder, 'driver.zip'), '0123abcd');
    await rm(file.path);
    await writeFile(file.path, 'not ours');
    await file.discard();
    assert.equal(await readFile(file.path, 'utf8'), 'not ours');
    const other = await PartialFile.create(join(folder, 'other.zip'), join(folder, 'other.zip'), '0123abcd');
    await other.discard();
    assert.deepEqual(await readdir(folder), [file.path.slice(folder.length + 1)]);
  } finally {
    await rm(folder, { recursive: true, force: true });
  }
});
