import { RefusedPathError } from './refused-path';

// Names Win32 maps to devices in every folder, with any extension ("NUL.txt" is NUL) and with
// spaces before the extension ("con .zip" is CON). COM0/LPT0 and the superscript digits are listed
// as reserved by Windows' own naming rules; CLOCK$ is an old device name still refused by some
// versions. Refusing a name that a given version would allow costs nothing.
const deviceNames = new Set([
  'CON', 'PRN', 'AUX', 'NUL', 'CONIN$', 'CONOUT$', 'CLOCK$',
  ...['COM', 'LPT'].flatMap((port) => [...'0123456789\u00b9\u00b2\u00b3'].map((digit) => `${port}${digit}`)),
]);

// Wildcards (also the DOS ones, < > "), the pipe and control characters: Windows allows none of
// them in a name.
const forbiddenCharacter = /[<>"|?*\u0000-\u001f]/;

/**
 * Why Windows would not take `requested` as an ordinary file path, or undefined when it would.
 * Checked on the path as the library gave it, before anything is resolved: `/` and `\` are both
 * separators, as Windows reads them.
 */
export function windowsPathProblem(requested: string): string | undefined {
  if (/^[\\/]{2}[?.][\\/]/.test(requested) || /^[\\/]\?\?[\\/]/.test(requested)) {
    return 'is a device or namespace path (\\\\?\\, \\\\.\\ or \\??\\)';
  }
  if (/^[\\/]{2}/.test(requested)) return 'is a network (UNC) path';
  const drive = /^[A-Za-z]:/.exec(requested)?.[0] ?? '';
  const rest = requested.slice(drive.length);
  if (rest.includes(':')) return 'has a ":" after the drive (a data stream or a device)';
  for (const name of rest.split(/[\\/]+/)) {
    if (name === '' || name === '.' || name === '..') continue;
    if (forbiddenCharacter.test(name)) return `has "${name}", with a character Windows does not allow in a name`;
    if (/[. ]$/.test(name)) return `has "${name}", which ends in a dot or a space that Windows would drop`;
    const stem = name.split('.')[0].replace(/ +$/, '').toUpperCase();
    if (deviceNames.has(stem)) return `has "${name}", which Windows reserves for a device`;
  }
  return undefined;
}

/** Throws the refusal of a path Windows would not take as an ordinary file path. */
export function checkWindowsPath(requested: string): void {
  const problem = windowsPathProblem(requested);
  if (problem !== undefined) throw new RefusedPathError(`"${requested}" ${problem}`);
}
