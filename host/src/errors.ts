import type { UpdateStatus } from './protocol';

/** Base class of every error this package raises. */
export class MorvaneBridgeError extends Error {
  constructor(message: string, options?: { cause?: unknown }) {
    super(message, options);
    this.name = new.target.name;
  }
}

/** The library answered a request with a result code other than 0. */
export class BridgeStatusError extends MorvaneBridgeError {
  constructor(
    readonly method: string,
    readonly id: string,
    readonly status: number,
    readonly statusString: string,
  ) {
    super(`${method} failed with ${status} (${statusString})`);
  }
}

/** The bridge could not decode a request and answered it with an "error" message. */
export class BridgeReplyError extends MorvaneBridgeError {
  constructor(
    readonly method: string,
    readonly id: string,
    readonly reply: string,
  ) {
    super(`${method} was refused by the bridge: ${reply}`);
  }
}

/** A request got no response in time. */
export class BridgeTimeoutError extends MorvaneBridgeError {
  constructor(
    readonly method: string,
    readonly id: string,
    readonly timeoutMs: number,
  ) {
    super(`${method} got no response within ${timeoutMs} ms`);
  }
}

export interface BridgeExitInfo {
  /** Exit code, or null when a signal ended the process. */
  code: number | null;
  signal: NodeJS.Signals | null;
  /** The last part of what the process wrote to stdout and stderr. */
  output: string;
}

/** The bridge process ended (or never started) while something was waiting for it. */
export class BridgeExitError extends MorvaneBridgeError {
  readonly code: number | null;
  readonly signal: NodeJS.Signals | null;
  readonly output: string;

  constructor(info: BridgeExitInfo, context: string, options?: { cause?: unknown }) {
    const how = info.signal !== null ? `signal ${info.signal}` : `exit code ${info.code}`;
    const tail = info.output.trim() === '' ? '' : `; its last output:\n${info.output.trimEnd()}`;
    super(`${context}: the bridge ended with ${how}${tail}`, options);
    this.code = info.code;
    this.signal = info.signal;
    this.output = info.output;
  }
}

/** A driver update reported one of the error states (download, unzip or install error). */
export class DriverUpdateError extends MorvaneBridgeError {
  constructor(readonly status: UpdateStatus) {
    const detail = status.errorMsg === '' ? '' : `: ${status.errorMsg}`;
    super(`driver update ended in ${status.stateString} (error ${status.errorCode})${detail}`);
  }
}
