/**
 * Where the package reports what it does. Every method is optional, so `console`, most logging
 * libraries and a plain object with one function all fit.
 */
export interface Logger {
  debug?(message: string): void;
  info?(message: string): void;
  warn?(message: string): void;
  error?(message: string): void;
}

export type LogMethod = keyof Logger;

/** Calls one method of a logger, never letting a faulty logger break the caller. */
export function logTo(logger: Logger, level: LogMethod, message: string): void {
  try {
    logger[level]?.(message);
  } catch {
    // A logger that throws must not take the bridge down with it.
  }
}
