import type { ChildProcess } from 'node:child_process';
import { setMaxListeners } from 'node:events';
import type { Socket } from 'node:net';
import { performance } from 'node:perf_hooks';
import type { BridgeEvents } from './bridge-events';
import type { BridgeExitInfo } from './errors';
import type { ExitGuard } from './exit-guard';
import { LineChannel } from './line-channel';
import type { LogMethod } from './logger';
import type { ResolvedOptions } from './options';
import { parseLine, type DownloadFileParams, type HttpAnswerParams, type HttpRequestParams, type WireMessage } from './protocol';
import { ByteBudget } from './services/byte-budget';
import { DownloadService } from './services/download';
import type { BodyBytes } from './services/fetch-policy';
import { performHttpRequest } from './services/http-request';
import { Limiter, type EndTurn } from './services/limiter';
import type { LaunchedBridge } from './start-bridge';
import { limitTimer } from './time-limits';

/** What a session needs from the MorvaneBridge that owns it. */
export interface SessionOwner {
  /** Responses, error replies and job events: what answers the host's own requests. */
  answer(line: string, message: WireMessage): void;
  emit<E extends keyof BridgeEvents>(event: E, ...args: BridgeEvents[E]): boolean;
  log(level: LogMethod, message: string): void;
  /** The folders downloads may write into now. */
  downloadFolders(): readonly string[];
  /** The process has ended and its downloads are stopped. */
  ended(session: BridgeSession, info: BridgeExitInfo): void;
}

/**
 * One bridge process: the child, its pipe, and the services it uses while it runs (HTTP
 * requests, downloads and log lines for the library). A crash ends the session; a restart makes
 * a new one.
 */
export class BridgeSession {
  readonly exited: Promise<BridgeExitInfo>;
  /** When the last line of any kind came from the bridge (performance.now()), or the session began. */
  lastLineAt = performance.now();
  /** Set when the hang watchdog killed the process: how long it had been silent. */
  hungForMs: number | undefined;
  private readonly child: ChildProcess;
  private readonly socket: Socket;
  private readonly channel: LineChannel;
  private readonly guard: ExitGuard;
  private readonly downloads: DownloadService;
  private readonly httpTurns: Limiter;
  private readonly httpBodies: ByteBudget;
  private readonly stopServices = new AbortController();
  private exitInfo: BridgeExitInfo | undefined;
  private closing = false;

  constructor(
    launched: LaunchedBridge,
    private readonly options: ResolvedOptions,
    private readonly owner: SessionOwner,
  ) {
    const { child, socket, output } = launched;
    this.child = child;
    this.socket = socket;
    this.guard = launched.guard;
    this.channel = new LineChannel(socket, {
      line: (line) => this.receive(line),
      oversized: (length) => this.reportMalformed(`(${length} characters)`, 'line too long'),
      closed: () => this.onPipeClosed(),
    });
    this.downloads = new DownloadService({
      fetch: options.fetch,
      folders: () => owner.downloadFolders(),
      stallTimeoutMs: options.timeouts.downloadStallMs,
      maxBytes: options.maxDownloadBytes,
      maxConcurrent: options.maxConcurrentDownloads,
      crossOriginRedirects: options.crossOriginRedirects,
      allowedUrlSchemes: options.allowedUrlSchemes,
      progressIntervalMs: options.downloadProgressIntervalMs,
      report: (params, requestId) => void this.sendEvent('downloadFile', requestId, params),
      activity: (activity) => {
        if (activity.kind === 'failed') owner.log('warn', `download ${activity.sdkTaskId} failed: ${activity.errorMsg}`);
        owner.emit('download', activity);
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
    this.guard.setLeftovers(() => this.downloads.partialFiles());
    void this.exited.then((info) => this.onExit(info));
  }

  get pid(): number | undefined {
    return this.child.pid;
  }

  /** True once the process has ended. */
  get ended(): boolean {
    return this.exitInfo !== undefined;
  }

  /** Starts reading the pipe. */
  start(): void {
    this.socket.resume();
  }

  send(message: WireMessage): Promise<void> {
    const line = JSON.stringify(message);
    this.owner.emit('wire', 'out', line);
    return this.channel.send(line);
  }

  /**
   * Stops the downloads and removes their temporary files, closes the pipe (the bridge then
   * exits) and waits for the process, killing it when it does not exit in time.
   */
  async close(): Promise<BridgeExitInfo> {
    this.closing = true;
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

  /** Kills a bridge that has stopped answering; its end is then reported as a hang. */
  killAsHung(silentForMs: number): void {
    if (this.exitInfo !== undefined || this.hungForMs !== undefined) return;
    this.hungForMs = Math.round(silentForMs);
    this.owner.log('warn', `the bridge sent nothing for ${this.hungForMs} ms while a request waited: killing it`);
    this.child.kill('SIGKILL');
  }

  /** Resolves once the event is handed to the pipe, or has failed to be; never rejects. */
  private sendEvent(method: 'httpRequest' | 'downloadFile', id: string, params: object): Promise<void> {
    if (this.stopServices.signal.aborted) return Promise.resolve();
    return this.send({ type: 'event', from: 'host', to: 'client', id, method, params }).catch((error: Error) =>
      this.owner.log('warn', `the ${method} answer was not sent: ${error.message}`),
    );
  }

  private receive(line: string): void {
    this.lastLineAt = performance.now();
    this.owner.emit('wire', 'in', line);
    const parsed = parseLine(line);
    if ('problem' in parsed) {
      this.reportMalformed(line, parsed.problem);
      return;
    }
    const message = parsed.message;
    if (message.type === 'request') this.serve(line, message);
    else if (message.type === 'fatal') {
      this.owner.log('error', `the bridge reports: ${message.error}`);
      this.owner.emit('fatal', message.error!);
    } else this.owner.answer(line, message);
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
          .catch((error: unknown) => this.owner.log('error', `download ${params.sdkTaskId} failed: ${String(error)}`));
        return;
      case 'cancelDownloadFile':
        if (typeof params.sdkTaskId !== 'number') break;
        void this.downloads.cancel(params.sdkTaskId).then((stopped) => {
          if (stopped === 0) this.owner.log('debug', `no download ${params.sdkTaskId} to cancel`);
        });
        return;
      case 'log':
        if (typeof params.log !== 'string') break;
        this.owner.log(sdkLogLevel(params.log), `[sdk] ${params.log}`);
        this.owner.emit('log', params.log);
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
      this.owner.log('debug', `HTTP ${request.method} ${request.url} dropped unsent: the bridge is going away`);
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
      this.owner.log('warn', `HTTP ${request.method} ${request.url} failed: ${answer.errorMsg}`);
    }
    return answer;
  }

  private reportMalformed(line: string, problem: string): void {
    this.owner.log('warn', `unusable line from the bridge (${problem}): ${line}`);
    this.owner.emit('malformed', line, problem);
  }

  private onPipeClosed(): void {
    if (this.exitInfo !== undefined || this.closing) return;
    this.owner.log('warn', 'the bridge closed the pipe');
    const kill = limitTimer(this.options.timeouts.closeMs, () => this.child.kill('SIGKILL'));
    void this.exited.then(() => clearTimeout(kill));
  }

  private onExit(info: BridgeExitInfo): void {
    this.exitInfo = info;
    this.stopServices.abort();
    this.channel.destroy();
    // The owner hears of the end once the partial files of the downloads are gone.
    void this.downloads.stopAll().finally(() => {
      this.guard.release();
      this.owner.ended(this, info);
    });
  }
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
