import './dispose-symbol';
import { DriverUpdateError } from './errors';
import { isUpdateErrorState, UpdateState, type DeviceRef, type UpdateStatus } from './protocol';

/** How the update ended for its caller, and after how many reports. */
type Outcome = { reports: number; failed: false } | { reports: number; failed: true; error: unknown };

/**
 * A running driver update. Iterate it with `for await` to receive each status report; the
 * iteration ends after the report with state 10 ("update-driver-finish"). A report with an
 * error state is yielded and then the iteration throws a `DriverUpdateError`; a refused start,
 * an abort or the end of the bridge make it throw as well.
 *
 * Breaking out of the iteration leaves the update running: `result()` still settles with its
 * outcome, and `cancel()` or an abort signal stop it.
 */
export class UpdateJob implements AsyncIterable<UpdateStatus>, AsyncDisposable {
  /** Every report the library sent for this update, in order. */
  private readonly reports: UpdateStatus[] = [];
  private outcome: Outcome | undefined;
  private libraryDone = false;
  private iterating = false;
  private wake: (() => void) | undefined;
  private readonly outcomePromise: Promise<UpdateStatus>;
  private settleResult!: { resolve(status: UpdateStatus): void; reject(error: unknown): void };
  private resolveEnded!: (status: UpdateStatus | undefined) => void;

  /**
   * Resolves once the library has ended the update, also after an abort or a cancel, whose
   * outcome the caller learns earlier: with the library's final report, or undefined when no
   * more reports can come (the bridge ended or was closed, or the start was refused). Never
   * rejects.
   */
  readonly ended: Promise<UpdateStatus | undefined>;

  constructor(
    /** The id of the request that started the update; every report carries it. */
    readonly id: string,
    readonly device: DeviceRef,
    private readonly cancelRequest: () => Promise<void>,
    private readonly onLibraryDone: () => void = () => undefined,
  ) {
    this.outcomePromise = new Promise((resolve, reject) => {
      this.settleResult = { resolve, reject };
    });
    // The outcome may go unobserved when the caller only iterates, or only disposes.
    this.outcomePromise.catch(() => undefined);
    this.ended = new Promise((resolve) => {
      this.resolveEnded = resolve;
    });
  }

  /** Asks the library to stop the update. Its remaining reports still arrive. */
  cancel(): Promise<void> {
    return this.cancelRequest();
  }

  /** Whether the update's outcome is known: it finished, failed, was aborted or lost its bridge. */
  get finished(): boolean {
    return this.outcome !== undefined;
  }

  /** The latest report the library sent; undefined before the first. */
  get lastStatus(): UpdateStatus | undefined {
    return this.reports.at(-1);
  }

  /**
   * Resolves with the final report once the update has finished, or rejects as the iteration
   * would. Independent of the iteration: it may be called before, during or after it, also after
   * breaking out of it, and any number of times.
   */
  result(): Promise<UpdateStatus> {
    return this.outcomePromise;
  }

  /** @internal Delivers one report from the library. */
  push(status: UpdateStatus): void {
    if (this.libraryDone) return;
    this.reports.push(status);
    if (status.state === UpdateState.Finish) {
      this.settle({ reports: this.reports.length, failed: false });
      this.endLibrary(status);
    } else if (isUpdateErrorState(status.state)) {
      this.settle({ reports: this.reports.length, failed: true, error: new DriverUpdateError(status) });
      this.endLibrary(status);
    }
    this.notify();
  }

  /**
   * @internal Ends the update for its caller with an error, after the reports already received.
   * The library may still be running it: later reports are kept for `ended`.
   */
  fail(error: unknown): void {
    this.settle({ reports: this.reports.length, failed: true, error });
    this.notify();
  }

  /** @internal Ends the update with an error when the library can report nothing more. */
  abandon(error: unknown): void {
    this.fail(error);
    this.endLibrary(undefined);
  }

  async *[Symbol.asyncIterator](): AsyncIterator<UpdateStatus> {
    if (this.iterating) throw new Error('an update job can be iterated only once');
    this.iterating = true;
    let next = 0;
    for (;;) {
      const outcome = this.outcome;
      if (next < (outcome?.reports ?? this.reports.length)) {
        yield this.reports[next];
        next += 1;
      } else if (outcome === undefined) {
        await new Promise<void>((resolve) => {
          this.wake = resolve;
        });
      } else if (outcome.failed) {
        throw outcome.error;
      } else {
        return;
      }
    }
  }

  /**
   * For `await using`: cancels the update if the library is still running it, and waits until
   * the library has ended it.
   */
  async [Symbol.asyncDispose](): Promise<void> {
    if (!this.libraryDone) await this.cancel().catch(() => undefined);
    await this.ended;
  }

  private settle(outcome: Outcome): void {
    if (this.outcome !== undefined) return;
    this.outcome = outcome;
    if (outcome.failed) this.settleResult.reject(outcome.error);
    else this.settleResult.resolve(this.reports[outcome.reports - 1]);
  }

  private endLibrary(final: UpdateStatus | undefined): void {
    if (this.libraryDone) return;
    this.libraryDone = true;
    this.onLibraryDone();
    this.resolveEnded(final);
  }

  private notify(): void {
    const wake = this.wake;
    this.wake = undefined;
    wake?.();
  }
}
