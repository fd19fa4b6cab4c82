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

// A partial file written to this recently is left alone, whatever its pid says. Another host in
// another PID namespace (a container, a sandbox) shares the folder but not the pids: its pid may be
// no process here, or some unrelated one. Its live download cannot be told apart by pid, but it
// keeps writing to its partial file; a stalled one fails after timeouts.downloadStallMs (60 s by
// default) and removes it. Fifteen minutes is far beyond that. Only a download with no stall limit
// that receives nothing for that long can still lose its file, and it then fails at its rename.
export const partialGraceMs = 15 * 60_000;

/** Sends a signal to a process, as process.kill does. */
export type SignalProcess = (pid: number, signal: 0) => void;

function isRunning(pid: number, signal: SignalProcess): boolean {
  try {
    signal(pid, 0);
    return true;
  } catch (error) {
    // Another user's process: it runs.
    return (error as NodeJS.ErrnoException).code === 'EPERM';
  }
}

export interface StaleCleanupOptions {
  /** How a process is asked whether it runs; process.kill by default. */
  signal?: SignalProcess;
  /** Files modified less than this long ago stay; partialGraceMs by default. */
  graceMs?: number;
}

/**
 * Removes the temporary files that downloads of processes which no longer run left in the folders
 * (a host killed by a signal has no chance to remove them). Nothing else is touched: not a file of
 * another name, nor one of a process that still runs (this one included), nor anything behind a
 * symbolic link, nor one written to in the last `graceMs`. Returns the paths removed.
 */
export async function removeStalePartialFiles(
  folders: readonly string[],
  { signal = (pid, number) => process.kill(pid, number), graceMs = partialGraceMs }: StaleCleanupOptions = {},
): Promise<string[]> {
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
      if (pid === process.pid || isRunning(pid, signal)) continue;
      const info = await lstat(path).catch(() => undefined);
      if (info === undefined || !info.isFile()) continue;
      if (Date.now() - info.mtimeMs < graceMs) continue;
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
