import type { Socket } from 'node:net';

export interface LineChannelHandlers {
  line(line: string): void;
  /** A line longer than the limit; its bytes are dropped up to the next line feed. */
  oversized(length: number): void;
  closed(): void;
}

interface QueuedWrite {
  data: Buffer;
  resolve(): void;
  reject(error: Error): void;
}

/** Default longest accepted line: far above any message the bridge sends. */
export const defaultMaxLineLength = 256 * 1024 * 1024;

/**
 * One message per line over a connected socket. Writes wait in a queue while the socket's
 * buffer is full, so a slow reader never makes the host buffer without bound.
 */
export class LineChannel {
  private readonly queue: QueuedWrite[] = [];
  private waitingForDrain = false;
  private partial = '';
  private skipping = false;
  private closedError: Error | undefined;

  constructor(
    private readonly socket: Socket,
    private readonly handlers: LineChannelHandlers,
    private readonly maxLineLength = defaultMaxLineLength,
  ) {
    socket.setEncoding('utf8');
    socket.on('data', (chunk: string) => this.receive(chunk));
    socket.on('drain', () => {
      this.waitingForDrain = false;
      this.pump();
    });
    socket.on('error', (error) => this.fail(error));
    socket.on('close', () => {
      this.fail(new Error('the pipe is closed'));
      handlers.closed();
    });
  }

  /** Resolves once the line is handed to the system; rejects when the pipe closes first. */
  send(line: string): Promise<void> {
    if (this.closedError !== undefined) return Promise.reject(this.closedError);
    return new Promise((resolve, reject) => {
      // Held as bytes, off the JavaScript heap: megabytes of queued text there let the heap grow
      // to several times their size before the collector runs.
      this.queue.push({ data: Buffer.from(`${line}\n`), resolve, reject });
      this.pump();
    });
  }

  /** Lines waiting for the socket to drain. */
  get queuedLines(): number {
    return this.queue.length;
  }

  /** Ends our side of the pipe once everything queued has been written. */
  end(): void {
    this.socket.end();
  }

  destroy(): void {
    this.socket.destroy();
  }

  private pump(): void {
    while (!this.waitingForDrain && this.queue.length > 0 && this.closedError === undefined) {
      const { data, resolve, reject } = this.queue.shift()!;
      // The callback keeps only what it settles: the socket lets go of the line's text once it
      // has copied it, and so must this.
      const accepted = this.socket.write(data, (error) => {
        if (error) reject(error);
        else resolve();
      });
      if (!accepted) this.waitingForDrain = true;
    }
  }

  private fail(error: Error): void {
    if (this.closedError !== undefined) return;
    this.closedError = error;
    for (const item of this.queue.splice(0)) item.reject(error);
  }

  private receive(chunk: string): void {
    let start = 0;
    for (;;) {
      const end = chunk.indexOf('\n', start);
      if (end < 0) break;
      const piece = chunk.slice(start, end);
      start = end + 1;
      if (this.skipping) {
        this.skipping = false;
        continue;
      }
      const line = this.partial + piece;
      this.partial = '';
      if (line.length > this.maxLineLength) this.handlers.oversized(line.length);
      else if (line.length > 0) this.handlers.line(line);
    }
    if (this.skipping) return;
    this.partial += chunk.slice(start);
    if (this.partial.length > this.maxLineLength) {
      this.handlers.oversized(this.partial.length);
      this.partial = '';
      this.skipping = true;
    }
  }
}
