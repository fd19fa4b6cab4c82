import type { Stats } from 'node:fs';
import { lstat, mkdir } from 'node:fs/promises';
import path from 'node:path';
import { RefusedPathError } from './refused-path';

const writableByOthers = 0o022;
const sticky = 0o1000;
const rootUid = 0;

/** `folder` and the folders above it, outermost first: `/a/b` gives `/`, `/a`, `/a/b`. */
function chainTo(folder: string): string[] {
  const parent = path.dirname(folder);
  return parent === folder ? [folder] : [...chainTo(parent), folder];
}

function octal(mode: number): string {
  return (mode & 0o7777).toString(8).padStart(4, '0');
}

/**
 * What is wrong with one existing folder on a download's way, or undefined. Inside the allowed
 * folder, and for the allowed folder itself, no one but this user may add, rename or remove
 * entries: another user who could would swap a folder for a link or a folder of theirs between
 * the check and the write. Above the allowed folder a sticky folder writable by everyone (/tmp)
 * is fine, as its other users cannot rename or remove what is ours; root's folders are fine too.
 */
function folderProblem(info: Stats, uid: number, aboveAllowed: boolean): string | undefined {
  if (info.isSymbolicLink()) return 'was replaced by a symbolic link';
  if (!info.isDirectory()) return 'is not a folder';
  if (aboveAllowed) {
    if (info.uid !== uid && info.uid !== rootUid) return `belongs to another user (uid ${info.uid})`;
    if ((info.mode & writableByOthers) !== 0 && (info.mode & sticky) === 0) {
      return `can be written by other users (mode ${octal(info.mode)}, not sticky)`;
    }
    return undefined;
  }
  if (info.uid !== uid) return `belongs to another user (uid ${info.uid})`;
  if ((info.mode & writableByOthers) !== 0) return `can be written by other users (mode ${octal(info.mode)})`;
  return undefined;
}

/**
 * Checks, on POSIX systems, every existing folder from the root down to `targetFolder`, which lies
 * in the allowed folder `allowed`; both are real paths. Windows has no mode bits to read: there
 * the folders the package creates are the user's own, with the rights they inherit.
 */
export async function checkDownloadFolders(
  allowed: string,
  targetFolder: string,
  requested: string,
  platform: NodeJS.Platform = process.platform,
): Promise<void> {
  if (platform === 'win32' || process.getuid === undefined) return;
  const uid = process.getuid();
  const above = new Set(chainTo(path.dirname(allowed)));
  for (const folder of chainTo(targetFolder)) {
    const info = await lstat(folder).catch((error: NodeJS.ErrnoException) => {
      if (error.code === 'ENOENT') return undefined;
      throw error;
    });
    // The rest is missing too, and will be made by this user.
    if (info === undefined) return;
    const problem = folderProblem(info, uid, above.has(folder));
    if (problem !== undefined) throw new RefusedPathError(`"${requested}": the folder ${folder} ${problem}`);
  }
}

/**
 * Makes the missing folders down to `folder`, one by one and private to this user (0700). A folder
 * someone else made first is kept, and then judged by checkDownloadFolders.
 */
export async function makeDownloadFolders(folder: string): Promise<void> {
  for (const step of chainTo(folder)) {
    const present = await lstat(step).then(
      () => true,
      () => false,
    );
    if (present) continue;
    await mkdir(step, { mode: 0o700 }).catch((error: NodeJS.ErrnoException) => {
      if (error.code !== 'EEXIST') throw error;
    });
  }
}
