import { performance } from 'node:perf_hooks';
import type { RestartPolicy } from './options';

/** Counts crashes within the restart policy's window. */
export class CrashWindow {
  private times: number[] = [];

  constructor(readonly policy: RestartPolicy) {}

  /**
   * Records a crash. Returns the restart it allows (1 for the first within the window), or
   * undefined once more than maxRestarts crashes fall within the window.
   */
  record(now = performance.now()): number | undefined {
    this.times = this.times.filter((time) => now - time < this.policy.withinMs);
    this.times.push(now);
    return this.times.length <= this.policy.maxRestarts ? this.times.length : undefined;
  }

  /** How many crashes the window holds now. */
  get count(): number {
    return this.times.length;
  }
}
