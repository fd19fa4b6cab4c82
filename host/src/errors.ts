import { describeExit } from './exit-codes';
import { describeResultCode, ResultCode, type UpdateStatus } from './protocol';

/**
 * Base class of every error this package raises. `code` is the library's result code (see
 * ResultCode) for errors that have one, the bridge's exit code for BridgeExitError, and null
 * when neither applies.
 */
export class MorvaneBridgeError extends Error {
  readonly code: number | null;

  constructor(message: string, options?: { cause?: unknown; code?: number | null }) {
    super(message, options);
    this.name = new.target.name;
    this.code = options?.code ?? null;
  }
}

/** The library answered a request with a result code other than 0. */
export class BridgeStatusError extends MorvaneBridgeError {
  declare readonly code: number;

  constructor(
    readonly method: string,
    readonly id: string,
    readonly status: number,
    readonly statusString: string,
  ) {
    super(`${method} failed with ${status} ${statusString}`, { code: status });
  }
}

/**
 * The bridge could not decode a request and answered it with an "error" message; its code is
 * -1000 invalid_parameter.
 */
export class BridgeReplyError extends MorvaneBridgeError {
  declare readonly code: number;

  constructor(
    readonly method: string,
    readonly id: string,
    readonly reply: string,
  ) {
    super(`${method} was refused by the bridge (${describeResultCode(ResultCode.InvalidParameter)}): ${reply}`, {
      code: ResultCode.InvalidParameter,
    });
  }
}

/** A request got no response in time; its code is -3000 timeout. */
export class BridgeTimeoutError extends MorvaneBridgeError {
  declare readonly code: number;

  constructor(
    readonly method: string,
    readonly id: string,
    readonly timeoutMs: number,
  ) {
    super(`${method} got no response within ${timeoutMs} ms (${describeResultCode(ResultCode.Timeout)})`, {
      code: ResultCode.Timeout,
    });
  }
}

export interface BridgeExitInfo {
  /** Exit code, or null when a signal ended the process. */
  code: number | null;
  signal: NodeJS.Signals | null;
  /** The last part of what the process wrote to stdout and stderr. */
  output: string;
}

/**
 * The bridge process ended (or never started) by itself while something was waiting for it.
 * `code` is its exit code.
 */
export class BridgeExitError extends MorvaneBridgeError {
  readonly signal: NodeJS.Signals | null;
  readonly output: string;

  /** `meaning` (given by BridgeCrashError) says the end was a crash and what it means. */
  constructor(info: BridgeExitInfo, context: string, options?: { cause?: unknown; meaning?: string }) {
    const tail = info.output.trim() === '' ? '' : `; its last output:\n${info.output.trimEnd()}`;
    const end = describeExit(info.code, info.signal);
    const meaning = options?.meaning === undefined || end.endsWith(options.meaning) ? '' : ` (${options.meaning})`;
    const crashed = options?.meaning === undefined ? '' : `: it crashed${meaning}`;
    super(`${context}: the bridge ended with ${end}${crashed}${tail}`, {
      cause: options?.cause,
      code: info.code,
    });
    this.signal = info.signal;
    this.output = info.output;
  }
}

/** How the bridge ended when nobody asked it to: the `crash` event's argument. */
export interface BridgeCrashInfo extends BridgeExitInfo {
  /**
   * 'signal': a signal killed it; 'exit': it exited by itself (a Windows status such as
   * 0xC0000005 among them); 'hung': the hang watchdog killed it (see hangTimeoutMs).
   */
  reason: 'signal' | 'exit' | 'hung';
  /** What the end means: "invalid memory access", "access violation", "hung: no output ..." */
  meaning: string;
}

/**
 * The bridge crashed (a signal, an exit nobody asked for, or a hang the watchdog ended) while
 * something was waiting for it. A BridgeExitError, so `code` is the exit code (null after a
 * signal); `crash` says what happened.
 */
export class BridgeCrashError extends BridgeExitError {
  readonly meaning: string;

  constructor(
    readonly crash: BridgeCrashInfo,
    context: string,
  ) {
    super(crash, context, { meaning: crash.meaning });
    this.meaning = crash.meaning;
  }
}

/**
 * The host closed the bridge with close() while something was waiting for it. Not a crash: the
 * request or job was cut short on purpose; its code is -1003 cancel_operation.
 */
export class BridgeClosedError extends MorvaneBridgeError {
  declare readonly code: number;

  constructor(context: string) {
    super(`${context}: the bridge was closed by the host (${describeResultCode(ResultCode.CancelOperation)})`, {
      code: ResultCode.CancelOperation,
    });
  }
}

/**
 * A driver update reported one of the error states (download, unzip or install error). `code`
 * is the report's errorCode.
 */
export class DriverUpdateError extends MorvaneBridgeError {
  declare readonly code: number;

  constructor(readonly status: UpdateStatus) {
    const detail = status.errorMsg === '' ? '' : `: ${status.errorMsg}`;
    super(`driver update ended in ${status.stateString} with ${describeResultCode(status.errorCode)}${detail}`, {
      code: status.errorCode,
    });
  }
}
