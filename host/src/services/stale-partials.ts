import { lstat, readdir, rm } from 'node:fs/promises';
import { join } from 'node:path';
import { logTo, type Logger } from '../logger';

/**
 * The temporary file of a download: `<name>.<pid>-<8 hex digits>.part` beside the target, where
 * pid is the process that writes it.
 */
export function partialFileName(target: string, random: string): string {
  return `${target}.${process.pid}-${random}.part`;
}

const partialPattern = /^.+\.(\d+)-[0-9a-f]{8}\.part$/;
// A folder tree is looked through this far, and no further: the library's downloads lie near
// the top of the folder it was given.
const deepest = 8;
const mostEntries = 10_000;

function isRunning(pid: number): boolean {
  try {
    process.kill(pid, 0);
    return true;
  } catch (error) {
    // Another user's process: it runs.
    return (error as NodeJS.ErrnoException).code === 'EPERM';
  }
}

/**
 * Removes the temporary files that downloads of processes which no longer run left in the folders
 * (a host killed by a signal has no chance to remove them). Nothing else is touched: not a file of
 * another name, nor one of a process that still runs (this one included), nor anything behind a
 * symbolic link. Returns the paths removed.
 */
export async function removeStalePartialFiles(folders: readonly string[]): Promise<string[]> {
  const removed: string[] = [];
  let entries = 0;
  const visit = async (folder: string, depth: number): Promise<void> => {
    const listing = await readdir(folder, { withFileTypes: true }).catch(() => []);
    for (const entry of listing) {
      if (++entries > mostEntries) return;
      const path = join(folder, entry.name);
      if (entry.isDirectory()) {
        if (depth < deepest) await visit(path, depth + 1);
        continue;
      }
      const match = partialPattern.exec(entry.name);
      if (match === null || !entry.isFile()) continue;
      const pid = Number(match[1]);
      if (pid === process.pid || isRunning(pid)) continue;
      const info = await lstat(path).catch(() => undefined);
      if (info === undefined || !info.isFile()) continue;
      await rm(path, { force: true }).then(
        () => removed.push(path),
        () => undefined,
      );
    }
  };
  for (const folder of folders) await visit(folder, 0);
  return removed;
}

/** removeStalePartialFiles, telling the logger what it removed. */
export async function removeStaleFiles(folders: readonly string[], logger: Logger): Promise<void> {
  for (const path of await removeStalePartialFiles(folders)) {
    logTo(logger, 'info', `removed ${path}, left by a download of a process that has ended`);
  }
}
