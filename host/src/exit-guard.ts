import type { ChildProcess } from 'node:child_process';
import { rmSync } from 'node:fs';

interface Guarded {
  child: ChildProcess;
  /** Paths to remove, asked for when the host exits. */
  leftovers: () => readonly string[];
}

/** Ends a bridge that the host process leaves behind; see guardUntilExit. */
export interface ExitGuard {
  /** Replaces what is removed at exit. */
  setLeftovers(leftovers: () => readonly string[]): void;
  /** The bridge has ended and cleaned up: nothing is left to do at exit. */
  release(): void;
}

const guarded = new Set<Guarded>();

// An 'exit' handler runs only synchronous work: kill and rmSync both are.
function cleanUpOnExit(): void {
  for (const { child, leftovers } of guarded) {
    if (child.exitCode === null && child.signalCode === null) {
      try {
        child.kill('SIGKILL');
      } catch {
        // Already gone.
      }
    }
    for (const path of leftovers()) {
      try {
        rmSync(path, { recursive: true, force: true });
      } catch {
        // Nothing more can be done while the process exits.
      }
    }
  }
}

/**
 * Kills the bridge and removes its leftovers when the host process exits, also when it crashes
 * or calls process.exit() without close(), so that no bridge outlives its host.
 */
export function guardUntilExit(child: ChildProcess, leftovers: () => readonly string[]): ExitGuard {
  const entry: Guarded = { child, leftovers };
  if (guarded.size === 0) process.on('exit', cleanUpOnExit);
  guarded.add(entry);
  return {
    setLeftovers: (replacement) => {
      entry.leftovers = replacement;
    },
    release: () => {
      if (guarded.delete(entry) && guarded.size === 0) process.off('exit', cleanUpOnExit);
    },
  };
}
