/** The longest delay Node's timers can hold (about 24.8 days); a longer one would fire at once. */
export const longestTimerMs = 2 ** 31 - 1;

/**
 * Checks a time option: a number of milliseconds from 0 up, where 0 and Infinity mean no limit.
 * Returns the limit, Infinity for none; throws a TypeError naming the option for anything else.
 */
export function timeLimit(name: string, value: unknown): number {
  if (typeof value !== 'number' || Number.isNaN(value) || value < 0) {
    throw new TypeError(`${name} must be a number of milliseconds from 0 up (0 or Infinity: no limit), not ${String(value)}`);
  }
  return value === 0 ? Infinity : value;
}

/** Checks a count option: a whole number from `least` up. */
export function wholeNumber(name: string, value: unknown, least = 0): number {
  if (typeof value !== 'number' || !Number.isInteger(value) || value < least) {
    throw new TypeError(`${name} must be a whole number from ${least} up, not ${String(value)}`);
  }
  return value;
}

/** Runs `fire` once the limit has passed. A limit longer than timers hold (no limit among
 * them) waits as long as they can. */
export function limitTimer(limitMs: number, fire: () => void): NodeJS.Timeout {
  return setTimeout(fire, Math.min(limitMs, longestTimerMs));
}

/** An AbortSignal that aborts with a TimeoutError once the limit has passed. */
export function limitSignal(limitMs: number): AbortSignal {
  return AbortSignal.timeout(Math.min(limitMs, longestTimerMs));
}
