import assert from 'node:assert/strict';
import { mkdtemp, rm, stat } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { after, before, describe } from 'node:test';
import { test } from './timed-test';
import {
  createPipeLocation,
  removePipeLocation,
  socketPathLimit,
} from '../src/pipe-location';

describe('createPipeLocation', () => {
  let scratch: string;
  let longBase: string;
  before(async () => {
    scratch = await mkdtemp(join(tmpdir(), 'pipe-location-'));
    // A folder name that pushes the socket path past every platform's limit.
    longBase = join(scratch, 'x'.repeat(120));
  });
  after(() => rm(scratch, { recursive: true, force: true }));

  test('a named pipe with a random name on Windows', async () => {
    const first = await createPipeLocation({ platform: 'win32', tempDir: 'C:\\Temp' });
    const second = await createPipeLocation({ platform: 'win32', tempDir: 'C:\\Temp' });
    assert.match(first.path, /^\\\\\.\\pipe\\morvane-[0-9a-f]{24}$/);
    assert.notEqual(first.path, second.path);
    assert.equal(first.folder, undefined);
  });

  const cases: { name: string; runtime: () => string | undefined; temp: () => string; under: () => string }[] = [
    { name: 'the runtime folder first', runtime: () => scratch, temp: () => longBase, under: () => scratch },
    { name: 'the temporary folder without a runtime folder', runtime: () => undefined, temp: () => scratch, under: () => scratch },
    { name: 'the temporary folder when the runtime path is too long', runtime: () => longBase, temp: () => scratch, under: () => scratch },
    { name: 'the temporary folder when the runtime folder is missing', runtime: () => join(scratch, 'absent'), temp: () => scratch, under: () => scratch },
  ];
  for (const { name, runtime, temp, under } of cases) {
    test(`a private socket folder under ${name}`, { skip: process.platform === 'win32' && 'Windows folders have no POSIX mode to check' }, async () => {
      const location = await createPipeLocation({ platform: 'linux', runtimeDir: runtime(), tempDir: temp() });
      try {
        assert.equal(dirname(location.folder!), under());
        assert.equal(dirname(location.path), location.folder);
        assert.ok(Buffer.byteLength(location.path) <= socketPathLimit('linux'));
        const info = await stat(location.folder!);
        assert.equal(info.mode & 0o777, 0o700);
      } finally {
        await removePipeLocation(location);
      }
      await assert.rejects(stat(location.folder!), { code: 'ENOENT' });
    });
  }

  test('fails with a clear reason when no folder gives a short enough path', async () => {
    await assert.rejects(
      createPipeLocation({ platform: 'linux', runtimeDir: longBase, tempDir: longBase, fallbackDir: longBase }),
      /no folder can hold the bridge's socket.*exceeds 107/,
    );
  });

  test('limits follow the platform', () => {
    assert.deepEqual(
      (['linux', 'darwin', 'freebsd'] as NodeJS.Platform[]).map(socketPathLimit),
      [107, 103, 103],
    );
  });
});
