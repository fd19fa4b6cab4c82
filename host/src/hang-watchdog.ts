import { performance } from 'node:perf_hooks';

export interface HangProbe {
  /** When the oldest request still waiting for its response was made; undefined when none waits. */
  oldestWaitSince(): number | undefined;
  /** When the last line of any kind came from the bridge. */
  lastLineAt(): number | undefined;
  /** The bridge has been silent this long with a request waiting at least as long. */
  hung(silentForMs: number): void;
}

/**
 * Takes the bridge as hung when a request has waited `limitMs` and nothing at all came from the
 * bridge meanwhile. A bridge that keeps sending (log lines, other answers, job reports) is busy,
 * not hung: its slow request is left to its own time limit. Times are performance.now().
 */
export class HangWatchdog {
  private readonly timer: NodeJS.Timeout;

  constructor(
    private readonly limitMs: number,
    private readonly probe: HangProbe,
  ) {
    this.timer = setInterval(() => this.check(), Math.max(10, Math.min(limitMs / 4, 1000)));
    // The bridge's pipe keeps the host alive while it runs; the watchdog must not.
    this.timer.unref();
  }

  stop(): void {
    clearInterval(this.timer);
  }

  private check(): void {
    const since = this.probe.oldestWaitSince();
    const lastLine = this.probe.lastLineAt();
    if (since === undefined || lastLine === undefined) return;
    const now = performance.now();
    if (now - Math.max(since, lastLine) >= this.limitMs) this.probe.hung(now - lastLine);
  }
}
