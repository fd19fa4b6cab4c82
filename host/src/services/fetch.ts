/**
 * The part of the Fetch API the host uses. The global `fetch` fits, and so does Electron's
 * `net.fetch`, which goes through the system's proxy and certificate settings.
 */
export type FetchLike = (input: string, init?: RequestInit) => Promise<Response>;

/** Describes a failed fetch, including the low-level cause Node.js hides behind "fetch failed". */
export function describeFetchError(error: unknown): string {
  if (!(error instanceof Error)) return String(error);
  const cause = (error as { cause?: unknown }).cause;
  if (cause instanceof Error && cause.message !== '' && cause.message !== error.message) {
    return `${error.message}: ${cause.message}`;
  }
  return error.message;
}

export function isTimeout(error: unknown): boolean {
  return error instanceof Error && error.name === 'TimeoutError';
}
