import path from 'node:path';
import type { Logger } from './logger';
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
  /** Added to this process's environment; MORVANE_PIPE is always set by the package. */
  env?: NodeJS.ProcessEnv;
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

export function resolveOptions(options: StartBridgeOptions): ResolvedOptions {
  return {
    fetch: options.fetch ?? ((input, init) => fetch(input, init)),
    logger: options.logger ?? {},
    downloadDirs: (options.downloadDirs ?? []).map((dir) => path.resolve(dir)),
    bridgeCwd: path.resolve(options.cwd ?? '.'),
    timeouts: checkedTimeouts(options.timeouts),
    downloadProgressIntervalMs: checkedInterval(options.downloadProgressIntervalMs),
    maxHttpBodyBytes:
      options.maxHttpBodyBytes === undefined ? 64 * 1024 * 1024 : wholeNumber('maxHttpBodyBytes', options.maxHttpBodyBytes),
    maxDownloadBytes:
      options.maxDownloadBytes === undefined ? 8 * 1024 ** 3 : wholeNumber('maxDownloadBytes', options.maxDownloadBytes),
    crossOriginRedirects: checkedFlag('crossOriginRedirects', options.crossOriginRedirects, true),
    allowedUrlSchemes: checkedSchemes(options.allowedUrlSchemes),
    maxConcurrentHttpRequests: countFrom1('maxConcurrentHttpRequests', options.maxConcurrentHttpRequests, 8),
    maxConcurrentDownloads: countFrom1('maxConcurrentDownloads', options.maxConcurrentDownloads, 4),
    httpBodyBudgetBytes: countFrom1('httpBodyBudgetBytes', options.httpBodyBudgetBytes, 64 * 1024 * 1024),
    restart: checkedRestart(options.restart),
    hangTimeoutMs: options.hangTimeoutMs === undefined ? Infinity : timeLimit('hangTimeoutMs', options.hangTimeoutMs),
  };
}

function checkedRestart(value: RestartPolicy | undefined): RestartPolicy | undefined {
  if (value === undefined) return undefined;
  if (typeof value !== 'object' || value === null) {
    throw new TypeError(`restart must be an object such as { maxRestarts: 5, withinMs: 180000 }, not ${String(value)}`);
  }
  return {
    maxRestarts: wholeNumber('restart.maxRestarts', value.maxRestarts),
    withinMs: timeLimit('restart.withinMs', value.withinMs),
  };
}

function countFrom1(name: string, value: number | undefined, byDefault: number): number {
  return value === undefined ? byDefault : wholeNumber(name, value, 1);
}

function checkedSchemes(value: readonly string[] | undefined): readonly string[] {
  if (value === undefined) return ['http:', 'https:'];
  if (!Array.isArray(value) || !value.every((scheme) => typeof scheme === 'string' && /^[a-z][a-z0-9+.-]*:$/i.test(scheme))) {
    throw new TypeError(`allowedUrlSchemes must be a list of URL schemes with their colon, such as "https:", not ${String(value)}`);
  }
  return value.map((scheme) => scheme.toLowerCase());
}

function checkedTimeouts(given: Partial<BridgeTimeouts> = {}): BridgeTimeouts {
  const timeouts = { ...defaultTimeouts };
  for (const key of Object.keys(defaultTimeouts) as (keyof BridgeTimeouts)[]) {
    if (given[key] !== undefined) timeouts[key] = timeLimit(`timeouts.${key}`, given[key]);
  }
  return timeouts;
}

function checkedInterval(value: number | undefined): number {
  if (value === undefined) return 100;
  if (typeof value !== 'number' || !Number.isFinite(value) || value < 0) {
    throw new TypeError(`downloadProgressIntervalMs must be a finite number from 0 up, not ${String(value)}`);
  }
  return value;
}

/** The bytes of the bridge's own output kept for error messages. */
export function checkedOutputTailBytes(value: number | undefined): number {
  return value === undefined ? 8192 : wholeNumber('outputTailBytes', value);
}

function checkedFlag(name: string, value: unknown, byDefault: boolean): boolean {
  if (value === undefined) return byDefault;
  if (typeof value !== 'boolean') throw new TypeError(`${name} must be true or false, not ${String(value)}`);
  return value;
}
