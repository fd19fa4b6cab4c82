import { DriverUpdateError } from './errors';
import { isUpdateErrorState, UpdateState, type DeviceRef, type UpdateStatus } from './protocol';

type Entry = { status: UpdateStatus } | { error: unknown };

/**
 * A running driver update. Iterate it with `for await` to receive each status report; the
 * iteration ends after the report with state 10 ("update-driver-finish"). A report with an
 * error state is yielded and then the iteration throws a `DriverUpdateError`; a refused start,
 * an abort or the end of the bridge make it throw as well.
 */
export class UpdateJob implements AsyncIterable<UpdateStatus> {
  private readonly entries: Entry[] = [];
  private waiter: ((entry: Entry | undefined) => void) | undefined;
  private ended = false;
  private iterating = false;
  private last: UpdateStatus | undefined;

  constructor(
    /** The id of the request that started the update; every report carries it. */
    readonly id: string,
    readonly device: DeviceRef,
    private readonly cancelRequest: () => Promise<void>,
    private readonly onEnd: () => void = () => undefined,
  ) {}

  /** Asks the library to stop the update. Its remaining reports still arrive. */
  cancel(): Promise<void> {
    return this.cancelRequest();
  }

  /** Whether the update has ended, successfully or not. */
  get finished(): boolean {
    return this.ended;
  }

  /** Runs the update to its end and returns the final report. */
  async result(): Promise<UpdateStatus> {
    let final: UpdateStatus | undefined;
    for await (const status of this) final = status;
    if (final === undefined) throw new Error('the update ended without a report');
    return final;
  }

  /** @internal Delivers one report from the library. */
  push(status: UpdateStatus): void {
    if (this.ended) return;
    this.deliver({ status });
    if (status.state === UpdateState.Finish) this.end();
    else if (isUpdateErrorState(status.state)) this.fail(new DriverUpdateError(status));
  }

  /** @internal Ends the update with an error after the reports already received. */
  fail(error: unknown): void {
    if (this.ended) return;
    this.deliver({ error });
    this.end();
  }

  async *[Symbol.asyncIterator](): AsyncIterator<UpdateStatus> {
    if (this.iterating) throw new Error('an update job can be iterated only once');
    this.iterating = true;
    for (;;) {
      const entry = await this.next();
      if (entry === undefined) return;
      if ('error' in entry) throw entry.error;
      this.last = entry.status;
      yield entry.status;
    }
  }

  /** The latest report received by the iteration. */
  get lastStatus(): UpdateStatus | undefined {
    return this.last;
  }

  private deliver(entry: Entry): void {
    const waiter = this.waiter;
    if (waiter !== undefined) {
      this.waiter = undefined;
      waiter(entry);
    } else {
      this.entries.push(entry);
    }
  }

  private end(): void {
    this.ended = true;
    this.onEnd();
    const waiter = this.waiter;
    this.waiter = undefined;
    waiter?.(undefined);
  }

  private next(): Promise<Entry | undefined> {
    const entry = this.entries.shift();
    if (entry !== undefined) return Promise.resolve(entry);
    if (this.ended) return Promise.resolve(undefined);
    return new Promise((resolve) => {
      this.waiter = resolve;
    });
  }
}
