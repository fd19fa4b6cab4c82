import './dispose-symbol';
import path from 'node:path';
import type { BridgeEvents } from './bridge-events';
import { BridgeSession } from './bridge-session';
import { crashInfoOf } from './crash-info';
import { CrashWindow } from './crash-window';
import {
  BridgeClosedError,
  BridgeCrashError,
  BridgeExitError,
  BridgeReplyError,
  BridgeStatusError,
  BridgeTimeoutError,
  type BridgeCrashInfo,
  type BridgeExitInfo,
} from './errors';
import { describeExit } from './exit-codes';
import { HangWatchdog } from './hang-watchdog';
import { timeLimit } from './time-limits';
import { logTo, type Logger, type LogMethod } from './logger';
import type { ResolvedOptions } from './options';
import { PendingRequests } from './pending-requests';
import { SafeEmitter } from './safe-emitter';
import type {
  DeviceRef,
  DisplayDevice,
  DriverCheckResult,
  HostMethod,
  InitOptions,
  ResponseResult,
  UpdateStatus,
  WireMessage,
} from './protocol';
import { removeStaleFiles } from './services/stale-partials';
import type { LaunchedBridge } from './start-bridge';
import { UpdateJob } from './update-job';

export type { BridgeEvents, BridgeGaveUpInfo, BridgeRestartInfo } from './bridge-events';

export interface RequestOptions {
  /** Aborting rejects the call at once with the signal's reason; a late response is ignored. */
  signal?: AbortSignal;
  /** How long to wait for the response, in ms (0 or Infinity: no limit); timeouts.requestMs when
   * left out. NaN, negative values and non-numbers are a TypeError. */
  timeoutMs?: number;
}

export interface JobOptions extends RequestOptions {
  /**
   * Aborting cancels the job in the library and rejects at once with the signal's reason. Holds
   * for the whole job, while timeoutMs limits only the wait for the response to its start.
   */
  signal?: AbortSignal;
}

interface CallOptions extends RequestOptions {
  id?: string;
}

interface CheckJob {
  deliver(result: DriverCheckResult): void;
  fail(error: Error): void;
}

/** Starts a new bridge process, as startBridge started the first; an abort gives up the start. */
export type Relaunch = (signal: AbortSignal) => Promise<LaunchedBridge>;

/**
 * The morvane-bridge and the pipe to it. Made by `startBridge`. Serves the library's HTTP
 * requests, downloads and log lines for as long as it runs. With a restart policy, a crashed
 * bridge process is replaced by a new one behind the same object.
 */
export class MorvaneBridge extends SafeEmitter<BridgeEvents> implements AsyncDisposable {
  private readonly pending = new PendingRequests();
  private readonly checks = new Map<string, CheckJob>();
  private readonly updates = new Map<string, UpdateJob>();
  private readonly logger: Logger;
  private lastId = 0;
  /** The running process; undefined while a restart starts the next one, and once ended. */
  private session: BridgeSession | undefined;
  private lastPid: number | undefined;
  /** The end of the latest process. */
  private lastExit: BridgeExitInfo | undefined;
  /** False while a restart runs: requests wait in `held` until the new process has its init again. */
  private accepting = true;
  private readonly held: WireMessage[] = [];
  private readonly crashes: CrashWindow | undefined;
  private restarting: Promise<void> | undefined;
  private readonly stopRestart = new AbortController();
  private readonly watchdog: HangWatchdog | undefined;
  /** What a restart sends again: the last init that succeeded, the last download folder as given. */
  private lastInit: Record<string, unknown> | undefined;
  private lastDownloadDirGiven: string | undefined;
  /** The folder last given to setDriverDownloadDir, resolved as the bridge resolves it. */
  private downloadDir: string | undefined;
  private exitInfo: BridgeExitInfo | undefined;
  /** The crash that ended the bridge for good, if one did. */
  private finalCrash: BridgeCrashInfo | undefined;
  private readonly exited: Promise<BridgeExitInfo>;
  private resolveExited!: (info: BridgeExitInfo) => void;
  private closing: Promise<BridgeExitInfo> | undefined;
  private closeRequested = false;

  /** @internal Use startBridge. Without `relaunch` no restart is possible. */
  constructor(
    launched: LaunchedBridge,
    private readonly options: ResolvedOptions,
    private readonly relaunch?: Relaunch,
  ) {
    super();
    this.logger = options.logger;
    this.exited = new Promise((resolve) => {
      this.resolveExited = resolve;
    });
    this.crashes = options.restart === undefined ? undefined : new CrashWindow(options.restart);
    const first = this.adopt(launched);
    // Reading starts once the caller of startBridge has added its listeners.
    setImmediate(() => first.start());
    if (options.hangTimeoutMs !== Infinity) {
      this.watchdog = new HangWatchdog(options.hangTimeoutMs, {
        oldestWaitSince: () => (this.session?.ended === false ? this.pending.oldestSince() : undefined),
        lastLineAt: () => this.session?.lastLineAt,
        hung: (silentForMs) => this.session?.killAsHung(silentForMs),
      });
    }
  }

  /** Process id of the bridge: the latest process, after a restart. */
  get pid(): number | undefined {
    return this.lastPid;
  }

  /** How the bridge ended for good; undefined while it runs or restarts. */
  get exitStatus(): BridgeExitInfo | undefined {
    return this.exitInfo;
  }

  /** Resolves when the bridge has ended for good, for whatever reason (a restart is not an end). */
  waitForExit(): Promise<BridgeExitInfo> {
    return this.exited;
  }

  /** Configures and starts the driver library. */
  async init(options: InitOptions, requestOptions: RequestOptions = {}): Promise<void> {
    const params: Record<string, unknown> = {
      appName: options.appName,
      appId: options.appId,
      deviceId: options.deviceId,
      clientVersion: options.clientVersion,
      oversea: options.oversea,
    };
    for (const key of ['sdkConfigUrl', 'configDir', 'tempDir', 'logMode'] as const) {
      if (options[key] !== undefined) params[key] = options[key];
    }
    await this.call('init', params, requestOptions);
    this.lastInit = params;
  }

  async getSdkVersion(options: RequestOptions = {}): Promise<string> {
    return String(await this.call('getSdkVersion', undefined, options));
  }

  /** The display adapters the library sees. */
  async getDisplayDevices(options: RequestOptions = {}): Promise<DisplayDevice[]> {
    const data = await this.call('getDisplayDevice', undefined, options);
    return Array.isArray(data) ? (data as DisplayDevice[]) : [];
  }

  /**
   * Sets the folder the library downloads driver packages into. From the moment the request goes
   * out, the package lets downloads write inside this folder (and the downloadDirs option's)
   * only; a refusal restores the previous folder.
   */
  async setDriverDownloadDir(dir: string, options: RequestOptions = {}): Promise<void> {
    const previous = this.downloadDir;
    const resolved = path.resolve(this.options.bridgeCwd, dir);
    this.downloadDir = resolved;
    try {
      await this.call('setDriverDownloadDir', { dir }, options);
      this.lastDownloadDirGiven = dir;
    } catch (error) {
      const refused = error instanceof BridgeStatusError || error instanceof BridgeReplyError;
      if (refused && this.downloadDir === resolved) this.downloadDir = previous;
      throw error;
    }
    await removeStaleFiles([resolved], this.logger);
  }

  /**
   * Asks the library whether a newer driver exists for the adapter, and resolves with its
   * answer. A refused start rejects with a BridgeStatusError.
   */
  checkDisplayDeviceDriver(device: DeviceRef, options: JobOptions = {}): Promise<DriverCheckResult> {
    const { signal } = options;
    let timeoutMs: number;
    try {
      timeoutMs = this.timeLimitOf(options);
    } catch (error) {
      return Promise.reject(error);
    }
    const id = this.newId();
    const refusal = this.refusal(`checkDisplayDeviceDriver job ${id}`);
    if (refusal !== undefined) return Promise.reject(refusal);
    if (signal?.aborted) return Promise.reject(signal.reason);
    return new Promise((resolve, reject) => {
      let started = false;
      let result: DriverCheckResult | undefined;
      let settled = false;
      const settle = (action: () => void) => {
        if (settled) return;
        settled = true;
        this.checks.delete(id);
        signal?.removeEventListener('abort', onAbort);
        action();
      };
      const onAbort = () => {
        settle(() => reject(signal!.reason));
        this.cancelCheckDisplayDeviceDriver(device).catch((error: Error) =>
          this.log('warn', `cancelling the check of ${describe(device)} failed: ${error.message}`),
        );
      };
      this.checks.set(id, {
        deliver: (reported) => {
          result = reported;
          if (started) settle(() => resolve(reported));
        },
        fail: (error) => settle(() => reject(error)),
      });
      signal?.addEventListener('abort', onAbort, { once: true });
      this.call('checkDisplayDeviceDriver', { ...ref(device) }, { id, timeoutMs }).then(
        () => {
          started = true;
          if (result !== undefined) settle(() => resolve(result!));
        },
        (error: Error) => settle(() => reject(error)),
      );
    });
  }

  async cancelCheckDisplayDeviceDriver(device: DeviceRef, options: RequestOptions = {}): Promise<void> {
    await this.call('cancelCheckDisplayDeviceDriver', ref(device), options);
  }

  /**
   * Starts a driver update of the adapter. The returned job yields the library's status
   * reports; see UpdateJob. An abort ends the job for the caller at once; `job.ended` tells
   * when the library has stopped it.
   */
  updateDisplayDeviceDriver(device: DeviceRef, options: JobOptions = {}): UpdateJob {
    const { signal, timeoutMs } = options;
    const id = this.newId();
    const onAbort = () => {
      job.fail(signal!.reason);
      this.cancelUpdateDisplayDeviceDriver(device).catch((error: Error) =>
        this.log('warn', `cancelling the update of ${describe(device)} failed: ${error.message}`),
      );
    };
    const job = new UpdateJob(
      id,
      { ...ref(device) },
      () => this.cancelUpdateDisplayDeviceDriver(device),
      () => {
        this.updates.delete(id);
        signal?.removeEventListener('abort', onAbort);
      },
    );
    let problem: unknown = this.refusal(`updateDisplayDeviceDriver job ${id}`);
    if (problem === undefined && signal?.aborted) problem = signal.reason;
    try {
      this.timeLimitOf(options);
    } catch (error) {
      problem ??= error;
    }
    if (problem !== undefined) {
      job.abandon(problem);
      return job;
    }
    this.updates.set(id, job);
    signal?.addEventListener('abort', onAbort, { once: true });
    this.call('updateDisplayDeviceDriver', ref(device), { id, timeoutMs }).catch((error: unknown) => {
      // Without a response the library may have started the update anyway: keep its reports.
      if (error instanceof BridgeTimeoutError) job.fail(error);
      else job.abandon(error);
    });
    return job;
  }

  async cancelUpdateDisplayDeviceDriver(device: DeviceRef, options: RequestOptions = {}): Promise<void> {
    await this.call('cancelUpdateDisplayDeviceDriver', ref(device), options);
  }

  /**
   * Ends the bridge: rejects what waits for it with a BridgeClosedError, stops the downloads made
   * for it and removes their temporary files, closes the pipe (the bridge then exits) and waits
   * for the process, killing it when it does not exit in time. Safe to call again.
   */
  close(): Promise<BridgeExitInfo> {
    this.closing ??= this.shutDown();
    return this.closing;
  }

  /** For `await using`: the same as close(). */
  async [Symbol.asyncDispose](): Promise<void> {
    await this.close();
  }

  private async shutDown(): Promise<BridgeExitInfo> {
    this.closeRequested = true;
    this.failEverything((context) => new BridgeClosedError(context));
    // A restart under way stops at its next step; a process it started is closed below.
    this.stopRestart.abort();
    await this.restarting;
    const info = this.session === undefined ? this.lastExit! : await this.session.close();
    this.finish(info);
    return this.exited;
  }

  /** Why a new request cannot be made, if it cannot. */
  private refusal(context: string): Error | undefined {
    if (this.closeRequested) return new BridgeClosedError(context);
    if (this.finalCrash !== undefined) return new BridgeCrashError(this.finalCrash, context);
    if (this.exitInfo !== undefined) return new BridgeExitError(this.exitInfo, context);
    return undefined;
  }

  /** Rejects every waiting request and job. */
  private failEverything(makeError: (context: string) => Error): void {
    this.held.length = 0;
    this.pending.rejectAll((method, id) => makeError(`${method} request ${id}`));
    for (const [id, check] of [...this.checks]) {
      check.fail(makeError(`checkDisplayDeviceDriver job ${id}`));
    }
    for (const [id, update] of [...this.updates]) {
      update.abandon(makeError(`updateDisplayDeviceDriver job ${id}`));
    }
  }

  private newId(): string {
    this.lastId += 1;
    return String(this.lastId);
  }

  private call(method: HostMethod, params?: object, options: CallOptions = {}): Promise<unknown> {
    const id = options.id ?? this.newId();
    const refusal = this.refusal(`${method} request ${id}`);
    if (refusal !== undefined) return Promise.reject(refusal);
    const { signal } = options;
    if (signal?.aborted) return Promise.reject(signal.reason);
    let timeoutMs: number;
    try {
      timeoutMs = this.timeLimitOf(options);
    } catch (error) {
      return Promise.reject(error);
    }
    const response = this.pending.wait(id, method, { signal, timeoutMs });
    const message = request(id, method, params);
    if (this.accepting && this.session !== undefined) transmit(this.session, message);
    else this.held.push(message);
    return response;
  }

  /** The call's time limit; a TypeError when the caller gave one that makes no sense. */
  private timeLimitOf(options: RequestOptions): number {
    return options.timeoutMs === undefined ? this.options.timeouts.requestMs : timeLimit('timeoutMs', options.timeoutMs);
  }

  /** Wraps a new process in a session that reports to this bridge. */
  private adopt(launched: LaunchedBridge): BridgeSession {
    const session = new BridgeSession(launched, this.options, {
      answer: (line, message) => this.answer(line, message),
      emit: (event, ...args) => this.emit(event, ...args),
      log: (level, message) => this.log(level, message),
      downloadFolders: () => (this.downloadDir === undefined ? [] : [this.downloadDir]).concat(this.options.downloadDirs),
      ended: (ended, info) => this.onSessionEnded(ended, info),
    });
    this.session = session;
    this.lastPid = session.pid;
    return session;
  }

  private answer(line: string, message: WireMessage): void {
    if (message.type === 'response') this.onResponse(message.id!, message.result!);
    else if (message.type === 'error') this.onErrorReply(message);
    else this.onJobEvent(line, message);
  }

  private onResponse(id: string, result: ResponseResult): void {
    const pending = this.pending.take(id);
    if (pending === undefined) {
      this.log('debug', `response ${id} matches no waiting request`);
      return;
    }
    if (result.status === 0) pending.resolve(result.data);
    else {
      pending.reject(new BridgeStatusError(pending.method, id, result.status, `${result.statusString}`));
    }
  }

  private onErrorReply(message: WireMessage): void {
    const pending = this.pending.take(message.id!);
    if (pending === undefined) {
      this.log('warn', `the bridge refused request ${message.id}: ${message.error}`);
      return;
    }
    pending.reject(new BridgeReplyError(pending.method, message.id!, message.error!));
  }

  private onJobEvent(line: string, message: WireMessage): void {
    const id = message.id!;
    if (message.method === 'checkDisplayDeviceDriver') {
      const check = this.checks.get(id);
      if (check !== undefined) check.deliver(message.params as DriverCheckResult);
      else this.log('debug', `check result ${id} matches no running check`);
    } else if (message.method === 'updateDisplayDeviceDriver') {
      const update = this.updates.get(id);
      if (update !== undefined) update.push(message.params as UpdateStatus);
      else this.log('debug', `update status ${id} matches no running update`);
    } else {
      this.reportMalformed(line, `unknown event "${message.method}"`);
    }
  }

  private reportMalformed(line: string, problem: string): void {
    this.log('warn', `unusable line from the bridge (${problem}): ${line}`);
    this.emit('malformed', line, problem);
  }

  /**
   * Every end of a process that close() did not ask for is a crash: a signal, an exit of its
   * own (whatever its code: the host had not closed the pipe), or a hang the watchdog ended.
   */
  private onSessionEnded(session: BridgeSession, info: BridgeExitInfo): void {
    this.lastExit = info;
    if (session !== this.session) return;
    this.session = undefined;
    if (this.closeRequested) return;
    const crash = crashInfoOf(info, session.hungForMs);
    this.log('warn', `the bridge crashed: ${describeExit(info.code, info.signal)} (${crash.meaning})`);
    this.accepting = false;
    this.failEverything((context) => new BridgeCrashError(crash, context));
    this.emit('crash', crash);
    if (this.closeRequested) return;
    const attempt = this.crashes?.record();
    if (attempt !== undefined && this.relaunch !== undefined) {
      // A crash of the new process while it gets its init again starts the next restart before
      // this one has returned: only the latest is forgotten when it ends.
      const restarting = this.restart(crash, attempt).finally(() => {
        if (this.restarting === restarting) this.restarting = undefined;
      });
      this.restarting = restarting;
      return;
    }
    if (this.crashes !== undefined) {
      const { maxRestarts, withinMs } = this.crashes.policy;
      this.giveUp(`${this.crashes.count} crashes within ${withinMs} ms, more than restart.maxRestarts (${maxRestarts})`, crash);
    } else this.finish(info, crash);
  }

  /** Starts a new process, sends it the last init and download folder, then lets requests through. */
  private async restart(crash: BridgeCrashInfo, attempt: number): Promise<void> {
    let launched: LaunchedBridge;
    try {
      launched = await this.relaunch!(this.stopRestart.signal);
    } catch (error) {
      if (!this.closeRequested) this.giveUp(`the new bridge process did not start: ${(error as Error).message}`, crash);
      return;
    }
    const session = this.adopt(launched);
    session.start();
    if (this.closeRequested) return;
    try {
      if (this.lastInit !== undefined) await this.requestOn(session, 'init', this.lastInit);
      if (this.lastDownloadDirGiven !== undefined) {
        await this.requestOn(session, 'setDriverDownloadDir', { dir: this.lastDownloadDirGiven });
      }
    } catch (error) {
      // A new crash or close() is handled by their own paths; a refusal leaves the app to act.
      if (session !== this.session || this.closeRequested) return;
      this.log('warn', `after the restart: ${(error as Error).message}`);
    }
    this.accepting = true;
    for (const message of this.held.splice(0)) {
      if (this.pending.has(message.id!)) transmit(session, message);
    }
    this.log('info', `the bridge was restarted (attempt ${attempt}) after ${crash.meaning}`);
    this.emit('restarted', { attempt, crash, pid: session.pid });
  }

  /** A request of the package's own, sent ahead of any the app made meanwhile. */
  private requestOn(session: BridgeSession, method: HostMethod, params: object): Promise<unknown> {
    const id = this.newId();
    const response = this.pending.wait(id, method, { timeoutMs: this.options.timeouts.requestMs });
    transmit(session, request(id, method, params));
    return response;
  }

  private giveUp(reason: string, crash: BridgeCrashInfo): void {
    this.log('error', `the bridge is not restarted again: ${reason}`);
    this.failEverything((context) => new BridgeCrashError(crash, context));
    this.emit('gaveUp', { reason, crash });
    this.finish(this.lastExit!, crash);
  }

  /** The bridge has ended for good. */
  private finish(info: BridgeExitInfo, crash?: BridgeCrashInfo): void {
    if (this.exitInfo !== undefined) return;
    this.exitInfo = info;
    this.finalCrash = crash;
    this.watchdog?.stop();
    this.held.length = 0;
    this.log(this.closeRequested ? 'debug' : 'warn', `the bridge exited with ${describeExit(info.code, info.signal)}`);
    this.resolveExited(info);
    this.emit('exit', info);
  }

  protected override listenerFailed(event: string | symbol, error: unknown): void {
    const detail = error instanceof Error ? (error.stack ?? error.message) : String(error);
    this.log('error', `a "${String(event)}" listener threw: ${detail}`);
  }

  private log(level: LogMethod, message: string): void {
    logTo(this.logger, level, message);
  }
}

function ref(device: DeviceRef): DeviceRef {
  return { vendorId: device.vendorId, deviceId: device.deviceId };
}

function describe(device: DeviceRef): string {
  return `${device.vendorId}:${device.deviceId}`;
}

function request(id: string, method: HostMethod, params?: object): WireMessage {
  const message: WireMessage = { type: 'request', from: 'host', to: 'client', id, method };
  if (params !== undefined) message.params = params;
  return message;
}

function transmit(session: BridgeSession, message: WireMessage): void {
  // A failed write means the pipe is gone; the bridge's exit then rejects the request.
  session.send(message).catch(() => undefined);
}
