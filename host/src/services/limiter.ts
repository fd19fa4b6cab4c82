/** Ends a turn; calling it again does nothing. */
export type EndTurn = () => void;

/**
 * Lets at most `limit` tasks run at once; the others wait their turn in the order they asked.
 * A task that waits while its signal aborts leaves the queue at once, never having run.
 */
export class Limiter {
  private running = 0;
  /** In the order they asked: a Set keeps insertion order, and leaving it early is cheap. */
  private readonly waiting = new Set<() => void>();

  constructor(readonly limit: number) {}

  /**
   * Resolves with the function that ends the turn once the task may run, or with undefined when
   * the signal aborted first (at once when it already has).
   */
  turn(signal?: AbortSignal): Promise<EndTurn | undefined> {
    if (signal?.aborted) return Promise.resolve(undefined);
    if (this.running < this.limit && this.waiting.size === 0) {
      this.running += 1;
      return Promise.resolve(this.ender());
    }
    return new Promise((resolve) => {
      const admit = () => {
        signal?.removeEventListener('abort', leave);
        resolve(this.ender());
      };
      const leave = () => {
        this.waiting.delete(admit);
        resolve(undefined);
      };
      this.waiting.add(admit);
      signal?.addEventListener('abort', leave, { once: true });
    });
  }

  /** Tasks running now. */
  get active(): number {
    return this.running;
  }

  /** Tasks waiting for their turn. */
  get queued(): number {
    return this.waiting.size;
  }

  private ender(): EndTurn {
    let ended = false;
    return () => {
      if (ended) return;
      ended = true;
      const next = this.waiting.values().next();
      if (next.done) {
        this.running -= 1;
        return;
      }
      // The place passes straight to the next in line, so none can overtake it.
      this.waiting.delete(next.value);
      next.value();
    };
  }
}
