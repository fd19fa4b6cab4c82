import type { FetchLike } from './fetch';

/** A body or download past its limit; the exchange fails with this reason. */
export class TooLargeError extends Error {
  constructor(what: string, limit: number, size: number | 'more') {
    super(`${what} is larger than the limit of ${limit} bytes${size === 'more' ? '' : ` (${size} bytes announced)`}`);
    this.name = 'TooLargeError';
  }
}

/** A redirect the options do not allow. */
export class RedirectRefusedError extends Error {
  constructor(from: string, to: string) {
    super(`refused a redirect from ${from} to another origin (${to}); see the crossOriginRedirects option`);
    this.name = 'RedirectRefusedError';
  }
}

const mostRedirects = 20;
const redirectStatuses = new Set([301, 302, 303, 307, 308]);

/**
 * Fetches with the redirect policy: every redirect followed, as fetch itself does, or only those
 * that stay on the URL's origin (followed here, one by one, so none can leave it).
 */
export async function fetchWithRedirectPolicy(
  fetch: FetchLike,
  url: string,
  init: RequestInit,
  crossOriginRedirects: boolean,
): Promise<Response> {
  if (crossOriginRedirects) return fetch(url, init);
  let current = url;
  let request = init;
  for (let hop = 0; ; hop++) {
    const response = await fetch(current, { ...request, redirect: 'manual' });
    const location = response.headers.get('location');
    if (!redirectStatuses.has(response.status) || location === null) return response;
    await response.body?.cancel().catch(() => undefined);
    const next = new URL(location, current);
    if (next.origin !== new URL(current).origin) throw new RedirectRefusedError(current, next.origin);
    if (hop === mostRedirects) throw new Error(`more than ${mostRedirects} redirects from ${url}`);
    // As fetch does: a 303, and a 301 or 302 after a POST, become a GET without a body.
    if (response.status === 303 || ((response.status === 301 || response.status === 302) && request.method === 'POST')) {
      request = { ...request, method: 'GET', body: undefined };
    }
    current = next.href;
  }
}

/** Content-Length as a number, or null when absent or not a plain count. */
export function announcedLength(response: Response): number | null {
  // A fetch of the caller's own may give headers without get().
  if (typeof response.headers?.get !== 'function') return null;
  const header = response.headers.get('content-length');
  if (header === null || !/^\d+$/.test(header.trim())) return null;
  return Number(header.trim());
}

/** The body as text, failing once it passes `limit` bytes, whatever the server announced. */
export async function boundedText(response: Response, limit: number): Promise<string> {
  const announced = announcedLength(response);
  if (announced !== null && announced > limit) {
    await response.body?.cancel().catch(() => undefined);
    throw new TooLargeError('the answer', limit, announced);
  }
  if (response.body === null || response.body === undefined) {
    // A fetch of the caller's own may give a response with text() alone.
    const text = typeof response.text === 'function' ? await response.text() : '';
    if (Buffer.byteLength(text) > limit) throw new TooLargeError('the answer', limit, 'more');
    return text;
  }
  const chunks: Uint8Array[] = [];
  let size = 0;
  const reader = response.body.getReader();
  for (;;) {
    const { done, value } = await reader.read();
    if (done) break;
    size += value.byteLength;
    if (size > limit) {
      await reader.cancel().catch(() => undefined);
      throw new TooLargeError('the answer', limit, 'more');
    }
    chunks.push(value);
  }
  return new TextDecoder().decode(Buffer.concat(chunks));
}
