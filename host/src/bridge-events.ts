import type { BridgeCrashInfo, BridgeExitInfo } from './errors';
import type { DownloadActivity } from './services/download';

/** The `restarted` event's argument. */
export interface BridgeRestartInfo {
  /** Restarts within the restart policy's window, this one included: 1 for the first. */
  attempt: number;
  /** The crash that led to this restart. */
  crash: BridgeCrashInfo;
  /** The new process's id. */
  pid: number | undefined;
}

/** The `gaveUp` event's argument. */
export interface BridgeGaveUpInfo {
  /** Why: the restart limit, or a new process that could not be started. */
  reason: string;
  /** The crash after which no restart came. */
  crash: BridgeCrashInfo;
}

/** The events of a MorvaneBridge and their arguments. */
export interface BridgeEvents {
  /** The bridge could not handle a line or an event the host sent. */
  fatal: [error: string];
  /** A line from the bridge that is not a message the host understands. */
  malformed: [line: string, problem: string];
  /** A log line of the driver library. */
  log: [line: string];
  /** Progress of a download made for the library. */
  download: [activity: DownloadActivity];
  /** Every line on the pipe, as received ('in') or sent ('out'), without its line feed. */
  wire: [direction: 'in' | 'out', line: string];
  /**
   * The bridge process ended without close() asking it to: a signal, an exit of its own, or a
   * hang the watchdog ended. Comes before any restart.
   */
  crash: [info: BridgeCrashInfo];
  /** The restart policy started a new bridge process, and it has its init and download folder again. */
  restarted: [info: BridgeRestartInfo];
  /** The restart policy gave up: the bridge stays ended. */
  gaveUp: [info: BridgeGaveUpInfo];
  /** The bridge has ended for good: closed, crashed with no restart to come, or given up. */
  exit: [info: BridgeExitInfo];
}
