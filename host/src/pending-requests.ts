import { performance } from 'node:perf_hooks';
import { BridgeTimeoutError } from './errors';
import { limitTimer } from './time-limits';

export interface WaitOptions {
  /** Aborting rejects the wait at once with the signal's reason. */
  signal?: AbortSignal;
  /** Infinity: no limit. */
  timeoutMs: number;
}

export interface PendingRequest {
  method: string;
  resolve(data: unknown): void;
  reject(error: unknown): void;
}

interface Entry extends PendingRequest {
  /** performance.now() when the wait began. */
  since: number;
  timer: NodeJS.Timeout;
  detach(): void;
}

/**
 * Requests sent to the bridge that wait for their response, each with its time limit and abort
 * signal. A response that comes after either ended the wait finds nothing under its id.
 */
export class PendingRequests {
  private readonly waiting = new Map<string, Entry>();

  /** Registers a request before it is sent; settles with its response, time limit or signal. */
  wait(id: string, method: string, { signal, timeoutMs }: WaitOptions): Promise<unknown> {
    return new Promise((resolve, reject) => {
      const timer = limitTimer(timeoutMs, () => {
        this.take(id);
        reject(new BridgeTimeoutError(method, id, timeoutMs));
      });
      const onAbort = () => {
        this.take(id);
        reject(signal!.reason);
      };
      signal?.addEventListener('abort', onAbort, { once: true });
      const detach = () => signal?.removeEventListener('abort', onAbort);
      this.waiting.set(id, { method, resolve, reject, since: performance.now(), timer, detach });
    });
  }

  /** Stops waiting for the request and returns it; undefined when nothing waits under the id. */
  take(id: string): PendingRequest | undefined {
    const entry = this.waiting.get(id);
    if (entry === undefined) return undefined;
    this.waiting.delete(id);
    clearTimeout(entry.timer);
    entry.detach();
    return entry;
  }

  /** Whether a request still waits under the id. */
  has(id: string): boolean {
    return this.waiting.has(id);
  }

  /** When the longest-waiting request began to wait; undefined when none waits. */
  oldestSince(): number | undefined {
    // A Map keeps insertion order: the first entry has waited longest.
    for (const entry of this.waiting.values()) return entry.since;
    return undefined;
  }

  rejectAll(makeError: (method: string, id: string) => Error): void {
    for (const [id, entry] of [...this.waiting]) {
      this.take(id);
      entry.reject(makeError(entry.method, id));
    }
  }
}
