// The Windows path rules on their own, on any platform: the download service applies them on
// Windows (download.test.ts covers that, for real under Windows Node).
import assert from 'node:assert/strict';
import { RefusedPathError } from '../src/services/download-folders';
import { checkWindowsPath, windowsPathProblem } from '../src/services/windows-paths';
import { acceptedWindowsNames, refusedWindowsNames } from './fixtures/windows-names';
import { test } from './timed-test';

// The folder as Windows code would name it, with either separator.
const folders = ['C:\\dl\\', 'c:/dl/', 'C:\\Users\\me\\AppData\\Local\\Temp\\driver-downloads/'];

test('names Windows reads as devices, streams or trimmed names are refused in any folder of the path', () => {
  const wrong = refusedWindowsNames.flatMap(({ name, reason }) =>
    folders.flatMap((folder) => {
      const path = folder + (folder.endsWith('/') ? name : name.replace(/\//g, '\\'));
      const problem = windowsPathProblem(path);
      return problem !== undefined && reason.test(problem) ? [] : [`${JSON.stringify(path)}: ${problem}`];
    }),
  );
  assert.deepEqual(wrong, []);
});

test('look-alikes of reserved names are ordinary names', () => {
  const paths = acceptedWindowsNames.flatMap((name) => folders.map((folder) => folder + name));
  assert.deepEqual(
    paths.map((path) => [path, windowsPathProblem(path)]),
    paths.map((path) => [path, undefined]),
  );
});

test('device, namespace and network paths are refused, however their slashes lean', () => {
  const cases: [string, RegExp][] = [
    ['\\\\?\\C:\\dl\\driver.zip', /device or namespace/],
    ['//?/C:/dl/driver.zip', /device or namespace/],
    ['\\\\.\\C:\\dl\\driver.zip', /device or namespace/],
    ['\\\\.\\pipe\\morvane', /device or namespace/],
    ['/\\.\\PhysicalDrive0', /device or namespace/],
    ['\\??\\C:\\dl\\driver.zip', /device or namespace/],
    ['\\\\?\\UNC\\server\\share\\driver.zip', /device or namespace/],
    ['\\\\server\\share\\driver.zip', /network \(UNC\)/],
    ['//server/share/driver.zip', /network \(UNC\)/],
    ['\\/server/share/driver.zip', /network \(UNC\)/],
    ['/\\server\\share\\driver.zip', /network \(UNC\)/],
    ['C:\\dl:evil\\driver.zip', /":" after the drive/],
    ['C:\\dl\\driver.zip:', /":" after the drive/],
    ['C::\\dl\\driver.zip', /":" after the drive/],
  ];
  assert.deepEqual(
    cases.map(([path, reason]) => [path, reason.test(windowsPathProblem(path) ?? '')]),
    cases.map(([path]) => [path, true]),
  );
});

test('a refusal is a RefusedPathError that quotes the path', () => {
  const path = 'C:\\dl\\sub\\CON\\driver.zip';
  assert.throws(
    () => checkWindowsPath(path),
    (error: unknown) => error instanceof RefusedPathError && error.message.startsWith(`"${path}" `),
  );
  assert.doesNotThrow(() => checkWindowsPath('C:\\dl\\sub\\CONSOLE\\driver.zip'));
});
