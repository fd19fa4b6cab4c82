import { randomBytes } from 'node:crypto';
import { dirname } from 'node:path';
import { Readable } from 'node:stream';
import { pipeline } from 'node:stream/promises';
import type { ReadableStream as WebReadableStream } from 'node:stream/web';
import { ResultCode, type DownloadFileParams, type DownloadProgressParams } from '../protocol';
import { confineDownloadPath, RefusedPathError } from './download-folders';
import { checkDownloadFolders, makeDownloadFolders } from './folder-safety';
import { PartialFile } from './partial-file';
import { describeFetchError, type FetchLike } from './fetch';
import { limitTimer } from '../time-limits';
import { announcedLength, fetchWithRedirectPolicy, TooLargeError, type FetchPolicy } from './fetch-policy';
import { Limiter } from './limiter';

/** What a download is doing, for progress displays and diagnostics. */
export interface DownloadActivity {
  kind: 'started' | 'progress' | 'finished' | 'failed' | 'cancelled';
  sdkTaskId: number;
  url: string;
  path: string;
  receivedBytes: number;
  /** From Content-Length; null when the server did not say. */
  totalBytes: number | null;
  /** Set when kind is 'failed'. */
  errorMsg?: string;
}

export interface DownloadServiceOptions extends FetchPolicy {
  fetch: FetchLike;
  /** The folders downloads may write into, read at the start of each download. */
  folders(): readonly string[];
  /** A download that receives nothing for this long fails with the timeout code. */
  stallTimeoutMs: number;
  /** The largest download accepted, by its announced length and by what arrives. */
  maxBytes: number;
  /** Downloads running at once; the others wait their turn in the order they came. */
  maxConcurrent: number;
  /** Shortest time between two progress reports of one download. */
  progressIntervalMs: number;
  /**
   * Longest time between two progress reports while data arrives, even when the percentage has
   * not moved, so that the library does not take a slow download for a dead one.
   */
  heartbeatMs?: number;
  /** Sends one "downloadFile" event to the library, answering the request with that id. */
  report(params: DownloadProgressParams, requestId: string): void;
  activity(activity: DownloadActivity): void;
  /** @internal For tests: the platform whose path rules apply; process.platform by default. */
  platform?: NodeJS.Platform;
  /** @internal For tests: the 8 hex digits that make a partial file's name unique. */
  partialSuffix?: () => string;
  /** @internal For tests: runs once the folder is held, before the partial file is created in it. */
  beforePartialFile?: () => Promise<void>;
  /** @internal For tests: runs between the last check of the folder and the rename. */
  beforeRename?: () => Promise<void>;
}

class StallError extends Error {
  constructor(ms: number) {
    super(`no data for ${ms} ms`);
    this.name = 'StallError';
  }
}

class HttpStatusError extends Error {
  constructor(readonly status: number, statusText: string) {
    super(`HTTP ${status}${statusText === '' ? '' : ` ${statusText}`}`);
  }
}

interface DownloadTask {
  readonly request: DownloadFileParams;
  readonly requestId: string;
  readonly controller: AbortController;
  /** Set by a cancel from the library or by stopAll: nothing more is reported. */
  silenced: boolean;
  /** The temporary file the body is written to, once created; renamed over the target at the end. */
  partialFile: PartialFile | undefined;
  done: Promise<void>;
}

/**
 * Streams the library's downloads to the paths it names, inside the allowed folders only, and
 * reports their progress. The body goes to a temporary file beside the target, which replaces
 * the target only once the whole body has arrived: a failed or cancelled download removes its
 * temporary file and leaves an existing file at the path as it was.
 */
export class DownloadService {
  private readonly tasks = new Set<DownloadTask>();
  private readonly turns: Limiter;

  constructor(private readonly options: DownloadServiceOptions) {
    this.turns = new Limiter(options.maxConcurrent);
  }

  /**
   * Starts a download once it has its turn; the promise settles when it has ended, however it
   * ended. One cancelled or stopped while it waits leaves the queue at once, never fetched.
   */
  start(request: DownloadFileParams, requestId: string): Promise<void> {
    const task: DownloadTask = {
      request,
      requestId,
      controller: new AbortController(),
      silenced: false,
      partialFile: undefined,
      done: Promise.resolve(),
    };
    this.tasks.add(task);
    task.done = this.runInTurn(task).finally(() => this.tasks.delete(task));
    return task.done;
  }

  private async runInTurn(task: DownloadTask): Promise<void> {
    const endTurn = await this.turns.turn(task.controller.signal);
    if (endTurn === undefined) return;
    try {
      await this.run(task);
    } finally {
      endTurn();
    }
  }

  /** Stops every download of the task, running or waiting; resolves once their files are gone. */
  async cancel(sdkTaskId: number): Promise<number> {
    const matching = [...this.tasks].filter((task) => task.request.sdkTaskId === sdkTaskId);
    for (const task of matching) {
      task.silenced = true;
      task.controller.abort();
    }
    await Promise.all(matching.map((task) => task.done));
    return matching.length;
  }

  /** Stops everything without reporting to the library, as the bridge is going away. */
  async stopAll(): Promise<void> {
    const all = [...this.tasks];
    for (const task of all) {
      task.silenced = true;
      task.controller.abort();
    }
    await Promise.all(all.map((task) => task.done));
  }

  /** Downloads running or waiting for their turn. */
  get running(): number {
    return this.tasks.size;
  }

  /** The temporary files of running downloads. */
  partialFiles(): string[] {
    return [...this.tasks].flatMap((task) => (task.partialFile === undefined ? [] : [task.partialFile.path]));
  }

  private async run(task: DownloadTask): Promise<void> {
    const { request, controller } = task;
    const { stallTimeoutMs, progressIntervalMs, heartbeatMs = 5_000 } = this.options;
    let received = 0;
    let total: number | null = null;
    let httpStatusCode = 0;
    let lastProgress = 0;
    let lastReportAt = Date.now();
    let stallTimer: NodeJS.Timeout | undefined;
    const watchStall = () => {
      clearTimeout(stallTimer);
      stallTimer = limitTimer(stallTimeoutMs, () => controller.abort(new StallError(stallTimeoutMs)));
    };
    const activity = (kind: DownloadActivity['kind'], errorMsg?: string) =>
      this.options.activity({
        kind,
        sdkTaskId: request.sdkTaskId,
        url: request.url,
        path: request.path,
        receivedBytes: received,
        totalBytes: total,
        ...(errorMsg === undefined ? {} : { errorMsg }),
      });
    const report = (fields: Pick<DownloadProgressParams, 'isFinish' | 'result' | 'errorMsg'>) =>
      this.options.report(
        {
          sdkTaskId: request.sdkTaskId,
          progress: lastProgress,
          httpStatusCode,
          sdkData: request.sdkData,
          ...fields,
        },
        task.requestId,
      );
    const percent = () =>
      total === null || total === 0 ? 0 : Math.min(100, Math.floor((received * 100) / total));

    activity('started');
    try {
      const { platform, partialSuffix = () => randomBytes(4).toString('hex') } = this.options;
      const { target, folder } = await confineDownloadPath(request.path, this.options.folders(), platform);
      await checkDownloadFolders(folder, dirname(target), request.path, platform);
      watchStall();
      const response = await fetchWithRedirectPolicy(
        this.options.fetch,
        request.url,
        // A compressed body would arrive decompressed, and its length would not match.
        { headers: { 'accept-encoding': 'identity' }, signal: controller.signal },
        this.options,
      );
      httpStatusCode = response.status;
      if (!response.ok || response.body === null) {
        await response.body?.cancel().catch(() => undefined);
        throw new HttpStatusError(response.status, response.statusText);
      }
      // Content-Length counts the encoded bytes; a server that encodes anyway has its body
      // decoded by fetch, so the length says nothing about what arrives.
      const encoded = isEncoded(response.headers.get('content-encoding'));
      total = encoded ? null : announcedLength(response);
      const { maxBytes } = this.options;
      if (total !== null && total > maxBytes) {
        await response.body.cancel().catch(() => undefined);
        throw new TooLargeError('the download', maxBytes, total);
      }
      const counted = async function* (source: AsyncIterable<Buffer>) {
        for await (const chunk of source) {
          watchStall();
          received += chunk.length;
          if (received > maxBytes) throw new TooLargeError('the download', maxBytes, 'more');
          const now = percent();
          const since = Date.now() - lastReportAt;
          // One report per new percent at most every interval; the final report carries 100.
          const moved = now > lastProgress && now < 100 && since >= progressIntervalMs;
          if (moved || since >= heartbeatMs) {
            lastProgress = Math.min(now, 99);
            lastReportAt = Date.now();
            report({ isFinish: false, result: ResultCode.Ok, errorMsg: '' });
            activity('progress');
          }
          yield chunk;
        }
      };
      await makeDownloadFolders(dirname(target));
      // Checked again: a folder made by someone else just before this host made it is theirs.
      await checkDownloadFolders(folder, dirname(target), request.path, platform);
      const file = await PartialFile.create(target, request.path, partialSuffix(), this.options.beforePartialFile);
      task.partialFile = file;
      await pipeline(
        Readable.fromWeb(response.body as WebReadableStream<Uint8Array>),
        counted,
        file.writable(),
        { signal: controller.signal },
      );
      if (total !== null && received !== total) {
        throw new Error(`the connection ended after ${received} of ${total} bytes`);
      }
      clearTimeout(stallTimer);
      if (task.silenced) throw new Error('cancelled');
      await file.publish(this.options.beforeRename);
      task.partialFile = undefined;
      await file.close();
      lastProgress = 100;
      report({ isFinish: true, result: ResultCode.Ok, errorMsg: '' });
      activity('finished');
    } catch (error) {
      clearTimeout(stallTimer);
      if (task.partialFile !== undefined) {
        await task.partialFile.discard();
        task.partialFile = undefined;
      }
      if (task.silenced) {
        activity('cancelled');
        return;
      }
      const { result, errorMsg } = describeFailure(request, error, controller.signal.reason);
      report({ isFinish: true, result, errorMsg });
      activity('failed', errorMsg);
    }
  }
}

function describeFailure(
  request: DownloadFileParams,
  error: unknown,
  abortReason: unknown,
): { result: number; errorMsg: string } {
  if (error instanceof RefusedPathError) {
    return { result: ResultCode.InvalidParameter, errorMsg: `refused to download: ${error.message}` };
  }
  if (abortReason instanceof StallError) {
    return { result: ResultCode.Timeout, errorMsg: `${request.url}: ${abortReason.message}` };
  }
  return { result: ResultCode.NetError, errorMsg: `${request.url}: ${describeFetchError(error)}` };
}

function isEncoded(header: string | null): boolean {
  if (header === null) return false;
  const coding = header.trim().toLowerCase();
  return coding !== '' && coding !== 'identity';
}
