import type { BodyBytes } from './fetch-policy';

/** The bytes one answer holds: taken chunk by chunk as they arrive, given back all at once. */
export interface BudgetAccount extends BodyBytes {
  /**
   * Resolves once the budget has room for `bytes` more; rejects with the signal's reason when it
   * aborts first, and when the account is released while it waits.
   */
  take(bytes: number, signal?: AbortSignal): Promise<void>;
  /** Gives back everything the account holds; it takes nothing more. Calling it again does nothing. */
  release(): void;
  readonly held: number;
}

interface Account extends BudgetAccount {
  held: number;
}

interface Waiter {
  account: Account;
  bytes: number;
  grant(): void;
  refuse(reason: unknown): void;
}

/**
 * A bound on the bytes of HTTP answers held in memory at once. Each answer has an account: its
 * body's bytes count from when they arrive until the account is released, once its answer line
 * has been handed to the pipe (a bridge that reads slowly thus holds answers back here).
 *
 * The rule: a take is granted at once when the bytes held, these included, stay within the
 * budget, or when its account is the oldest one holding bytes (or none holds any). Otherwise it
 * waits, and the answer's body is not read on, until releases make room or its account becomes
 * the oldest; each release looks at the waiting takes in the order they asked. Hence:
 * - no deadlock: the oldest account never waits, so it ends and is released, and the next one
 *   becomes the oldest;
 * - the accounts other than the oldest hold no more than the budget together; only the oldest
 *   may pass it, by no more than one answer (which maxHttpBodyBytes bounds). A single answer
 *   larger than the budget still goes through, alone with what was granted before it.
 * A chunk that waits for its grant has arrived but is not yet counted: one chunk per answer
 * being read at most.
 */
export class ByteBudget {
  private heldBytes = 0;
  /** The accounts holding bytes, oldest first (a Set keeps insertion order). */
  private readonly holders = new Set<Account>();
  private readonly waiting: Waiter[] = [];

  constructor(readonly limitBytes: number) {}

  /** Bytes held by all accounts now. */
  get held(): number {
    return this.heldBytes;
  }

  account(): BudgetAccount {
    let released = false;
    const account: Account = {
      held: 0,
      take: (bytes, signal) => {
        if (released) return Promise.reject(new Error('the answer has been sent'));
        if (signal?.aborted) return Promise.reject(signal.reason);
        return new Promise<void>((resolve, reject) => {
          const onAbort = () => waiter.refuse(signal!.reason);
          const waiter: Waiter = {
            account,
            bytes,
            grant: () => {
              signal?.removeEventListener('abort', onAbort);
              resolve();
            },
            refuse: (reason) => {
              signal?.removeEventListener('abort', onAbort);
              this.waiting.splice(this.waiting.indexOf(waiter), 1);
              reject(reason);
            },
          };
          this.waiting.push(waiter);
          signal?.addEventListener('abort', onAbort, { once: true });
          this.grantWaiting();
        });
      },
      release: () => {
        if (released) return;
        released = true;
        for (const waiter of this.waiting.filter((candidate) => candidate.account === account)) {
          waiter.refuse(new Error('the answer has been sent'));
        }
        this.heldBytes -= account.held;
        account.held = 0;
        this.holders.delete(account);
        this.grantWaiting();
      },
    };
    return account;
  }

  private allows(account: Account, bytes: number): boolean {
    if (this.heldBytes + bytes <= this.limitBytes) return true;
    const oldest = this.holders.values().next();
    return oldest.done || oldest.value === account;
  }

  private grant(account: Account, bytes: number): void {
    account.held += bytes;
    this.heldBytes += bytes;
    this.holders.add(account);
  }

  /** Looks at the waiting takes in the order they asked and grants each one the rule allows. */
  private grantWaiting(): void {
    for (let index = 0; index < this.waiting.length; ) {
      const waiter = this.waiting[index];
      if (!this.allows(waiter.account, waiter.bytes)) {
        index += 1;
        continue;
      }
      this.waiting.splice(index, 1);
      this.grant(waiter.account, waiter.bytes);
      waiter.grant();
    }
  }
}
