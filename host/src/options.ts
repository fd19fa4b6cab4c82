import path from 'node:path';
import type { Logger } from './logger';
import {
  arrayOf,
  booleanValue,
  describeValue,
  functionValue,
  isPlainObject,
  nonEmptyString,
  objectValue,
  onlyKnownKeys,
  stringRecord,
  stringValue,
  urlScheme,
} from './option-checks';
import type { FetchLike } from './services/fetch';
import { timeLimit, wholeNumber } from './time-limits';

/** Time limits in milliseconds: 0 or Infinity for none. Other non-numbers, NaN and negative
 * values are a TypeError. */
export interface BridgeTimeouts {
  /** How long the started bridge may take to connect to the pipe. */
  connectMs: number;
  /** How long a request may wait for its response. Job reports have no limit: use a signal. */
  requestMs: number;
  /** How long one HTTP exchange made for the library may take, body included. */
  httpMs: number;
  /** A download that receives no data for this long fails. */
  downloadStallMs: number;
  /** How long close() waits for the bridge to exit before killing it. */
  closeMs: number;
}

export const defaultTimeouts: Readonly<BridgeTimeouts> = {
  connectMs: 10_000,
  requestMs: 30_000,
  httpMs: 30_000,
  downloadStallMs: 60_000,
  closeMs: 5_000,
};

export interface StartBridgeOptions {
  /** Path of the morvane-bridge executable (or of any program that speaks for it). */
  executable: string;
  /** Arguments for the executable; the bridge itself takes none. */
  args?: readonly string[];
  cwd?: string;
  /**
   * Variables for the bridge: added to this process's environment, or with `inheritEnv: false`
   * the whole of it. MORVANE_PIPE and MORVANE_PIPE_SECRET are always set by the package.
   */
  env?: NodeJS.ProcessEnv;
  /**
   * Whether the bridge gets this process's environment besides `env`; true by default. With
   * false it gets only `env` and the package's variables, and on Windows also SystemRoot and
   * windir when this process has them, without which a Windows program cannot load system DLLs
   * (Node's spawn on Windows adds a few more of the system's variables itself when missing).
   */
  inheritEnv?: boolean;
  /** Performs the library's HTTP requests and downloads; the global fetch by default. */
  fetch?: FetchLike;
  /** Silent by default. */
  logger?: Logger;
  /**
   * Folders the library may download into besides the one last given to setDriverDownloadDir.
   * A download to any other path is refused. Relative folders are resolved against the current
   * working directory.
   */
  downloadDirs?: readonly string[];
  timeouts?: Partial<BridgeTimeouts>;
  /** Shortest time between two progress reports of one download; 100 ms by default. */
  downloadProgressIntervalMs?: number;
  /** How much of the bridge's own output to keep for error messages; 8 KiB by default. */
  outputTailBytes?: number;
  /** The largest HTTP answer body handed to the library; 64 MiB by default. */
  maxHttpBodyBytes?: number;
  /** The largest download accepted; 8 GiB by default. */
  maxDownloadBytes?: number;
  /** Whether HTTP requests and downloads follow redirects to another origin; true by default. */
  crossOriginRedirects?: boolean;
  /**
   * The URL schemes, with their colon, that HTTP requests and downloads may reach, on the first
   * URL and on every redirect; ['http:', 'https:'] by default. Others fail without a fetch.
   */
  allowedUrlSchemes?: readonly string[];
  /** HTTP exchanges run at once for the library; the others wait their turn. 8 by default. */
  maxConcurrentHttpRequests?: number;
  /** Downloads run at once for the library; the others wait their turn. 4 by default. */
  maxConcurrentDownloads?: number;
  /**
   * The bytes of HTTP answers held in memory at once, from their arrival until they are handed
   * to the pipe; past it, answers stop reading their bodies until room frees. 64 MiB by default.
   */
  httpBodyBudgetBytes?: number;
  /**
   * Aborting it while the bridge starts kills the bridge, cleans up and rejects with the signal's
   * reason; an aborted one rejects at once. Once startBridge has resolved, it has no effect: use
   * close() to end the bridge.
   */
  signal?: AbortSignal;
  /**
   * Restarts the bridge after a crash, at most `maxRestarts` times within `withinMs`; off by
   * default. See the `crash`, `restarted` and `gaveUp` events.
   */
  restart?: RestartPolicy;
  /**
   * A request that has waited this long while nothing at all came from the bridge takes the
   * bridge as hung: it is killed and handled as a crash. Off by default (0 or Infinity: off).
   */
  hangTimeoutMs?: number;
}

export interface RestartPolicy {
  /** Restarts allowed within `withinMs`; one crash more gives up. A whole number from 0 up. */
  maxRestarts: number;
  /** The window, in ms, in which crashes are counted. */
  withinMs: number;
}

export interface ResolvedOptions {
  fetch: FetchLike;
  logger: Logger;
  /** Absolute. */
  downloadDirs: readonly string[];
  /** The bridge's working directory, against which it resolves relative folders. */
  bridgeCwd: string;
  timeouts: BridgeTimeouts;
  downloadProgressIntervalMs: number;
  outputTailBytes: number;
  maxHttpBodyBytes: number;
  maxDownloadBytes: number;
  crossOriginRedirects: boolean;
  /** Lower case, with their colon. */
  allowedUrlSchemes: readonly string[];
  maxConcurrentHttpRequests: number;
  maxConcurrentDownloads: number;
  httpBodyBudgetBytes: number;
  restart: RestartPolicy | undefined;
  /** Infinity: no watchdog. */
  hangTimeoutMs: number;
}

const loggerMethods = ['debug', 'info', 'warn', 'error'] as const;

type OptionChecks = { [Name in keyof Required<StartBridgeOptions>]: (value: unknown) => unknown };

/** The check of every option startBridge knows; a key not listed here is refused. */
const optionChecks: OptionChecks = {
  executable: (value) => nonEmptyString('executable', value),
  args: (value) => arrayOf('args', value, stringValue),
  cwd: (value) => stringValue('cwd', value),
  env: (value) => stringRecord('env', value),
  inheritEnv: (value) => booleanValue('inheritEnv', value),
  fetch: (value) => functionValue('fetch', value),
  logger: checkedLogger,
  downloadDirs: (value) => arrayOf('downloadDirs', value, nonEmptyString),
  timeouts: checkedTimeouts,
  downloadProgressIntervalMs: checkedInterval,
  outputTailBytes: (value) => wholeNumber('outputTailBytes', value),
  maxHttpBodyBytes: (value) => wholeNumber('maxHttpBodyBytes', value),
  maxDownloadBytes: (value) => wholeNumber('maxDownloadBytes', value),
  crossOriginRedirects: (value) => booleanValue('crossOriginRedirects', value),
  allowedUrlSchemes: (value) => arrayOf('allowedUrlSchemes', value, urlScheme),
  maxConcurrentHttpRequests: (value) => wholeNumber('maxConcurrentHttpRequests', value, 1),
  maxConcurrentDownloads: (value) => wholeNumber('maxConcurrentDownloads', value, 1),
  httpBodyBudgetBytes: (value) => wholeNumber('httpBodyBudgetBytes', value, 1),
  signal: checkedSignal,
  restart: checkedRestart,
  hangTimeoutMs: (value) => timeLimit('hangTimeoutMs', value),
};

/**
 * Checks every option, throwing a TypeError that names the first wrong one (an unknown key
 * among them), and fills in the defaults. Runs before anything is started.
 */
export function resolveOptions(options: StartBridgeOptions): ResolvedOptions {
  const given = objectValue('options', options);
  onlyKnownKeys(given, Object.keys(optionChecks));
  optionChecks.executable(given.executable);
  for (const [name, check] of Object.entries(optionChecks)) {
    if (given[name] !== undefined) check(given[name]);
  }
  return {
    fetch: options.fetch ?? ((input, init) => fetch(input, init)),
    logger: options.logger ?? {},
    downloadDirs: (options.downloadDirs ?? []).map((dir) => path.resolve(dir)),
    bridgeCwd: path.resolve(options.cwd ?? '.'),
    timeouts: checkedTimeouts(options.timeouts),
    downloadProgressIntervalMs: options.downloadProgressIntervalMs ?? 100,
    outputTailBytes: options.outputTailBytes ?? 8192,
    maxHttpBodyBytes: options.maxHttpBodyBytes ?? 64 * 1024 * 1024,
    maxDownloadBytes: options.maxDownloadBytes ?? 8 * 1024 ** 3,
    crossOriginRedirects: options.crossOriginRedirects ?? true,
    allowedUrlSchemes: (options.allowedUrlSchemes ?? ['http:', 'https:']).map((scheme) => scheme.toLowerCase()),
    maxConcurrentHttpRequests: options.maxConcurrentHttpRequests ?? 8,
    maxConcurrentDownloads: options.maxConcurrentDownloads ?? 4,
    httpBodyBudgetBytes: options.httpBodyBudgetBytes ?? 64 * 1024 * 1024,
    restart: options.restart === undefined ? undefined : checkedRestart(options.restart),
    hangTimeoutMs: options.hangTimeoutMs === undefined ? Infinity : timeLimit('hangTimeoutMs', options.hangTimeoutMs),
  };
}

function checkedRestart(value: unknown): RestartPolicy {
  const given = objectValue('restart', value);
  onlyKnownKeys(given, ['maxRestarts', 'withinMs'], 'restart.');
  return {
    maxRestarts: wholeNumber('restart.maxRestarts', given.maxRestarts),
    withinMs: timeLimit('restart.withinMs', given.withinMs),
  };
}

function checkedTimeouts(value: unknown = {}): BridgeTimeouts {
  const given = objectValue('timeouts', value);
  const names = Object.keys(defaultTimeouts) as (keyof BridgeTimeouts)[];
  onlyKnownKeys(given, names, 'timeouts.');
  const timeouts = { ...defaultTimeouts };
  for (const name of names) {
    if (given[name] !== undefined) timeouts[name] = timeLimit(`timeouts.${name}`, given[name]);
  }
  return timeouts;
}

function checkedInterval(value: unknown): void {
  if (typeof value !== 'number' || !Number.isFinite(value) || value < 0) {
    throw new TypeError(`downloadProgressIntervalMs must be a finite number from 0 up, not ${describeValue(value)}`);
  }
}

function checkedLogger(value: unknown): void {
  // A function (console.log, say) is refused: the package calls the logger's methods.
  if (!isPlainObject(value)) {
    throw new TypeError(`logger must be an object with optional debug, info, warn and error methods, not ${describeValue(value)}`);
  }
  for (const method of loggerMethods) {
    if (value[method] !== undefined) functionValue(`logger.${method}`, value[method]);
  }
}

function checkedSignal(value: unknown): void {
  if (!(value instanceof AbortSignal)) throw new TypeError(`signal must be an AbortSignal, not ${describeValue(value)}`);
}
