import './dispose-symbol';
import type { ChildProcess } from 'node:child_process';
import { setMaxListeners } from 'node:events';
import type { Socket } from 'node:net';
import path from 'node:path';
import {
  BridgeClosedError,
  BridgeExitError,
  BridgeReplyError,
  BridgeStatusError,
  BridgeTimeoutError,
  type BridgeExitInfo,
} from './errors';
import type { ExitGuard } from './exit-guard';
import { LineChannel } from './line-channel';
import { limitTimer, timeLimit } from './time-limits';
import { logTo, type Logger, type LogMethod } from './logger';
import type { ResolvedOptions } from './options';
import type { OutputTail } from './output-tail';
import { PendingRequests } from './pending-requests';
import { SafeEmitter } from './safe-emitter';
import {
  parseLine,
  type DeviceRef,
  type DisplayDevice,
  type DownloadFileParams,
  type DriverCheckResult,
  type HostMethod,
  type HttpAnswerParams,
  type HttpRequestParams,
  type InitOptions,
  type ResponseResult,
  type UpdateStatus,
  type WireMessage,
} from './protocol';
import { ByteBudget } from './services/byte-budget';
import { DownloadService, type DownloadActivity } from './services/download';
import { performHttpRequest } from './services/http-request';
import type { BodyBytes } from './services/fetch-policy';
import { Limiter, type EndTurn } from './services/limiter';
import { removeStaleFiles } from './services/stale-partials';
import { UpdateJob } from './update-job';

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
  /** The bridge process has ended. */
  exit: [info: BridgeExitInfo];
}


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

/**
 * A running morvane-bridge process and the pipe to it. Made by `startBridge`. Serves the
 * library's HTTP requests, downloads and log lines for as long as it runs.
 */
export class MorvaneBridge extends SafeEmitter<BridgeEvents> implements AsyncDisposable {
  private readonly channel: LineChannel;
  private readonly pending = new PendingRequests();
  private readonly checks = new Map<string, CheckJob>();
  private readonly updates = new Map<string, UpdateJob>();
  private readonly downloads: DownloadService;
  private readonly httpTurns: Limiter;
  private readonly httpBodies: ByteBudget;
  private readonly stopServices = new AbortController();
  private readonly logger: Logger;
  private lastId = 0;
  private exitInfo: BridgeExitInfo | undefined;
  private readonly exited: Promise<BridgeExitInfo>;
  private closing: Promise<BridgeExitInfo> | undefined;
  private closeRequested = false;
  /** The folder last given to setDriverDownloadDir, resolved as the bridge resolves it. */
  private downloadDir: string | undefined;

  /** @internal Use startBridge. */
  constructor(
    private readonly child: ChildProcess,
    socket: Socket,
    output: OutputTail,
    private readonly options: ResolvedOptions,
    private readonly exitGuard: ExitGuard,
  ) {
    super();
    this.logger = options.logger;
    this.channel = new LineChannel(socket, {
      line: (line) => this.receive(line),
      oversized: (length) => this.reportMalformed(`(${length} characters)`, 'line too long'),
      closed: () => this.onPipeClosed(),
    });
    this.downloads = new DownloadService({
      fetch: options.fetch,
      folders: () => (this.downloadDir === undefined ? [] : [this.downloadDir]).concat(options.downloadDirs),
      stallTimeoutMs: options.timeouts.downloadStallMs,
      maxBytes: options.maxDownloadBytes,
      maxConcurrent: options.maxConcurrentDownloads,
      crossOriginRedirects: options.crossOriginRedirects,
      allowedUrlSchemes: options.allowedUrlSchemes,
      progressIntervalMs: options.downloadProgressIntervalMs,
      report: (params, requestId) => void this.sendEvent('downloadFile', requestId, params),
      activity: (activity) => {
        if (activity.kind === 'failed') this.log('warn', `download ${activity.sdkTaskId} failed: ${activity.errorMsg}`);
        this.emit('download', activity);
      },
    });
    // Every request waiting for its turn, and every running one, listens for the bridge going away.
    setMaxListeners(0, this.stopServices.signal);
    this.httpTurns = new Limiter(options.maxConcurrentHttpRequests);
    this.httpBodies = new ByteBudget(options.httpBodyBudgetBytes);
    this.exited = new Promise((resolve) => {
      const ended = () => {
        // Wait briefly for the last output to arrive before the tail is taken.
        const settle = setTimeout(finish, 500);
        child.once('close', finish);
        function finish() {
          clearTimeout(settle);
          child.off('close', finish);
          resolve({ code: child.exitCode, signal: child.signalCode, output: output.text() });
        }
      };
      if (child.exitCode !== null || child.signalCode !== null) ended();
      else child.once('exit', ended);
    });
    exitGuard.setLeftovers(() => this.downloads.partialFiles());
    void this.exited.then((info) => this.onExit(info));
    // Reading starts once the caller of startBridge has added its listeners.
    setImmediate(() => socket.resume());
  }

  /** Process id of the bridge. */
  get pid(): number | undefined {
    return this.child.pid;
  }

  /** How the bridge ended; undefined while it runs. */
  get exitStatus(): BridgeExitInfo | undefined {
    return this.exitInfo;
  }

  /** Resolves when the bridge process has ended, for whatever reason. */
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
    this.stopServices.abort();
    await this.downloads.stopAll();
    if (this.exitInfo === undefined) {
      this.channel.end();
      const kill = limitTimer(this.options.timeouts.closeMs, () => this.child.kill('SIGKILL'));
      await this.exited;
      clearTimeout(kill);
    }
    this.channel.destroy();
    return this.exited;
  }

  /** Why a new request cannot be made, if it cannot. */
  private refusal(context: string): Error | undefined {
    if (this.closeRequested) return new BridgeClosedError(context);
    if (this.exitInfo !== undefined) return new BridgeExitError(this.exitInfo, context);
    return undefined;
  }

  /** Rejects every waiting request and job. */
  private failEverything(makeError: (context: string) => Error): void {
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
    const message: WireMessage = { type: 'request', from: 'host', to: 'client', id, method };
    if (params !== undefined) message.params = params;
    // A failed write means the pipe is gone; the bridge's exit then rejects the request.
    this.send(message).catch(() => undefined);
    return response;
  }

  /** The call's time limit; a TypeError when the caller gave one that makes no sense. */
  private timeLimitOf(options: RequestOptions): number {
    return options.timeoutMs === undefined ? this.options.timeouts.requestMs : timeLimit('timeoutMs', options.timeoutMs);
  }

  private send(message: WireMessage): Promise<void> {
    const line = JSON.stringify(message);
    this.emit('wire', 'out', line);
    return this.channel.send(line);
  }

  /** Resolves once the event is handed to the pipe, or has failed to be; never rejects. */
  private sendEvent(method: 'httpRequest' | 'downloadFile', id: string, params: object): Promise<void> {
    if (this.stopServices.signal.aborted) return Promise.resolve();
    return this.send({ type: 'event', from: 'host', to: 'client', id, method, params }).catch(
      (error: Error) => this.log('warn', `the ${method} answer was not sent: ${error.message}`),
    );
  }

  private receive(line: string): void {
    this.emit('wire', 'in', line);
    const parsed = parseLine(line);
    if ('problem' in parsed) {
      this.reportMalformed(line, parsed.problem);
      return;
    }
    const message = parsed.message;
    switch (message.type) {
      case 'response':
        this.onResponse(message.id!, message.result!);
        break;
      case 'error':
        this.onErrorReply(message);
        break;
      case 'fatal':
        this.log('error', `the bridge reports: ${message.error}`);
        this.emit('fatal', message.error!);
        break;
      case 'event':
        this.onJobEvent(line, message);
        break;
      case 'request':
        this.serve(line, message);
        break;
    }
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

  private serve(line: string, message: WireMessage): void {
    const params = message.params as Record<string, unknown>;
    switch (message.method) {
      case 'httpRequest':
        if (!hasTask(params) || typeof params.url !== 'string') break;
        void this.serveHttpRequest(message.id!, params);
        return;
      case 'downloadFile':
        if (!hasTask(params) || typeof params.url !== 'string' || typeof params.path !== 'string') {
          break;
        }
        this.downloads
          .start(params as unknown as DownloadFileParams, message.id!)
          .catch((error: unknown) => this.log('error', `download ${params.sdkTaskId} failed: ${String(error)}`));
        return;
      case 'cancelDownloadFile':
        if (typeof params.sdkTaskId !== 'number') break;
        void this.downloads.cancel(params.sdkTaskId).then((stopped) => {
          if (stopped === 0) this.log('debug', `no download ${params.sdkTaskId} to cancel`);
        });
        return;
      case 'log':
        if (typeof params.log !== 'string') break;
        this.log(sdkLogLevel(params.log), `[sdk] ${params.log}`);
        this.emit('log', params.log);
        return;
      default:
        this.reportMalformed(line, `unknown request "${message.method}"`);
        return;
    }
    this.reportMalformed(line, `${message.method} request with unusable params`);
  }

  private async serveHttpRequest(id: string, params: Record<string, unknown>): Promise<void> {
    const request: HttpRequestParams = {
      url: params.url as string,
      method: typeof params.method === 'string' ? params.method : 'GET',
      headers: stringRecord(params.headers),
      body: typeof params.body === 'string' ? params.body : '',
      sdkTaskId: params.sdkTaskId as number,
      sdkData: params.sdkData as string,
    };
    const endTurn = await this.httpTurns.turn(this.stopServices.signal);
    if (endTurn === undefined) {
      this.log('debug', `HTTP ${request.method} ${request.url} dropped unsent: the bridge is going away`);
      return;
    }
    // The answer's bytes count against the budget until its line is handed to the pipe. The
    // answer itself is not kept while the line waits: the line holds the body once already.
    const bodyBytes = this.httpBodies.account();
    try {
      await this.sendEvent('httpRequest', id, await this.answerHttpRequest(request, bodyBytes, endTurn));
    } finally {
      bodyBytes.release();
    }
  }

  private async answerHttpRequest(request: HttpRequestParams, bodyBytes: BodyBytes, endTurn: EndTurn): Promise<HttpAnswerParams> {
    let answer: HttpAnswerParams;
    try {
      answer = await performHttpRequest(request, {
        fetch: this.options.fetch,
        timeoutMs: this.options.timeouts.httpMs,
        maxBodyBytes: this.options.maxHttpBodyBytes,
        crossOriginRedirects: this.options.crossOriginRedirects,
        allowedUrlSchemes: this.options.allowedUrlSchemes,
        bodyBytes,
        signal: this.stopServices.signal,
      });
    } finally {
      endTurn();
    }
    if (answer.result !== 0) {
      this.log('warn', `HTTP ${request.method} ${request.url} failed: ${answer.errorMsg}`);
    }
    return answer;
  }

  private reportMalformed(line: string, problem: string): void {
    this.log('warn', `unusable line from the bridge (${problem}): ${line}`);
    this.emit('malformed', line, problem);
  }

  private onPipeClosed(): void {
    if (this.exitInfo !== undefined || this.closeRequested) return;
    this.log('warn', 'the bridge closed the pipe');
    const kill = limitTimer(this.options.timeouts.closeMs, () => this.child.kill('SIGKILL'));
    void this.exited.then(() => clearTimeout(kill));
  }

  private onExit(info: BridgeExitInfo): void {
    this.exitInfo = info;
    this.stopServices.abort();
    void this.downloads.stopAll().finally(() => this.exitGuard.release());
    this.channel.destroy();
    this.failEverything((context) => new BridgeExitError(info, context));
    const how = info.signal !== null ? `signal ${info.signal}` : `code ${info.code}`;
    this.log(this.closeRequested ? 'debug' : 'warn', `the bridge exited with ${how}`);
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

function hasTask(params: Record<string, unknown>): boolean {
  return typeof params.sdkTaskId === 'number' && typeof params.sdkData === 'string';
}

function stringRecord(value: unknown): Record<string, string> {
  const record: Record<string, string> = {};
  if (typeof value !== 'object' || value === null) return record;
  for (const [key, item] of Object.entries(value)) {
    if (typeof item === 'string') record[key] = item;
  }
  return record;
}

const sdkLogLevels: Record<string, LogMethod> = {
  error: 'error',
  warning: 'warn',
  warn: 'warn',
  info: 'info',
  debug: 'debug',
};

/** A library line that starts with its level ("[warning] ...") goes to that level; others to info. */
function sdkLogLevel(line: string): LogMethod {
  const match = /^\[(\w+)\]/.exec(line);
  return (match && sdkLogLevels[match[1].toLowerCase()]) || 'info';
}
