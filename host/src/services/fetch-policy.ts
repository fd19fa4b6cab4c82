import type { FetchLike } from './fetch';

/** A body or download past its limit; the exchange fails with this reason. */
export class TooLargeError extends Error {
  constructor(what: string, limit: number, size: number | 'more') {
    super(`${what} is larger than the limit of ${limit} bytes${size === 'more' ? '' : ` (${size} bytes announced)`}`);
    this.name = 'TooLargeError';
  }
}

/** A URL or redirect the options do not allow; fetch is never called for it. */
export class RefusedUrlError extends Error {
  constructor(message: string) {
    super(message);
    this.name = 'RefusedUrlError';
  }
}

/** Which URLs the library's requests and downloads may reach. */
export interface FetchPolicy {
  /** Schemes with their colon, in lower case: "https:". */
  allowedUrlSchemes: readonly string[];
  /** Whether a redirect may lead to another origin (scheme, host and port). */
  crossOriginRedirects: boolean;
}

const mostRedirects = 20;
const redirectStatuses = new Set([301, 302, 303, 307, 308]);
// As fetch does: credentials do not follow a redirect to another origin...
const originBoundHeaders = ['authorization', 'proxy-authorization', 'cookie', 'host'];
// ...and the description of a body does not outlive the body.
const bodyHeaders = ['content-type', 'content-length', 'content-encoding', 'content-language', 'content-location'];

/**
 * Fetches under the policy. Redirects are followed here, hop by hop (the fetch is always asked
 * for `redirect: 'manual'`), so that each URL is checked before the fetch sees it: its scheme
 * must be allowed, and with crossOriginRedirects false its origin must be the previous one's.
 * At most 20 redirects; a 303, and a 301 or 302 after a POST, continue as a GET without a body.
 *
 * The fetch must return a redirect as it is, with its 3xx status and its Location header, as
 * Node's fetch does; an opaque redirect (status 0, no headers) cannot be checked and fails.
 */
export async function fetchWithRedirectPolicy(
  fetch: FetchLike,
  url: string,
  init: RequestInit,
  policy: FetchPolicy,
): Promise<Response> {
  let current = parseUrl(url, `"${url}" is not a valid URL`);
  checkScheme(current, policy, '');
  let request = init;
  for (let hop = 0; ; hop++) {
    const response = await fetch(current.href, { ...request, redirect: 'manual' });
    if (response.type === 'opaqueredirect') {
      await response.body?.cancel().catch(() => undefined);
      throw new Error(
        `${current.href} redirects, but the fetch hid where to (an opaque redirect); it must return redirects as they are when asked for redirect: 'manual'`,
      );
    }
    const location = headerOf(response, 'location');
    if (!redirectStatuses.has(response.status) || location === null) return response;
    await response.body?.cancel().catch(() => undefined);
    const next = parseUrl(location, `${current.href} redirects to "${location}", which is not a valid URL`, current);
    checkScheme(next, policy, ` of a redirect from ${current.href}`);
    const crossOrigin = next.origin !== current.origin;
    if (crossOrigin && !policy.crossOriginRedirects) {
      throw new RefusedUrlError(
        `refused a redirect from ${current.href} to another origin (${next.origin}); see the crossOriginRedirects option`,
      );
    }
    if (hop === mostRedirects) throw new Error(`more than ${mostRedirects} redirects from ${url}`);
    request = redirected(request, response.status, crossOrigin);
    current = next;
  }
}

function parseUrl(text: string, problem: string, base?: URL): URL {
  try {
    return new URL(text, base);
  } catch {
    throw new RefusedUrlError(problem);
  }
}

function checkScheme(url: URL, policy: FetchPolicy, context: string): void {
  if (policy.allowedUrlSchemes.includes(url.protocol)) return;
  throw new RefusedUrlError(
    `refused the URL scheme "${url.protocol}"${context} (allowed: ${policy.allowedUrlSchemes.join(', ')}); see the allowedUrlSchemes option`,
  );
}

/** The request for the next hop of a redirect with this status. */
function redirected(request: RequestInit, status: number, crossOrigin: boolean): RequestInit {
  const toGet = status === 303 || ((status === 301 || status === 302) && request.method === 'POST');
  if (!toGet && !crossOrigin) return request;
  const headers = new Headers(request.headers);
  for (const name of [...(crossOrigin ? originBoundHeaders : []), ...(toGet ? bodyHeaders : [])]) headers.delete(name);
  return toGet ? { ...request, method: 'GET', body: undefined, headers } : { ...request, headers };
}

/** A header of the answer; null when absent, or when a fetch of the caller's own gives headers without get(). */
function headerOf(response: Response, name: string): string | null {
  return typeof response.headers?.get === 'function' ? response.headers.get(name) : null;
}

/** Content-Length as a number, or null when absent or not a plain count. */
export function announcedLength(response: Response): number | null {
  const header = headerOf(response, 'content-length');
  if (header === null || !/^\d+$/.test(header.trim())) return null;
  return Number(header.trim());
}

/** Grants room for bytes of an answer held in memory; see ByteBudget. */
export interface BodyBytes {
  take(bytes: number, signal?: AbortSignal): Promise<void>;
}

/**
 * The body as text, failing once it passes `limit` bytes, whatever the server announced. Each
 * chunk is counted in `holding` before the next is read: while it waits, the body is not read on.
 */
export async function boundedText(
  response: Response,
  limit: number,
  holding?: BodyBytes,
  signal?: AbortSignal,
): Promise<string> {
  const announced = announcedLength(response);
  if (announced !== null && announced > limit) {
    await response.body?.cancel().catch(() => undefined);
    throw new TooLargeError('the answer', limit, announced);
  }
  if (response.body === null || response.body === undefined) {
    // A fetch of the caller's own may give a response with text() alone.
    const text = typeof response.text === 'function' ? await response.text() : '';
    const size = Buffer.byteLength(text);
    if (size > limit) throw new TooLargeError('the answer', limit, 'more');
    await holding?.take(size, signal);
    return text;
  }
  const chunks: Uint8Array[] = [];
  let size = 0;
  const reader = response.body.getReader();
  try {
    for (;;) {
      const { done, value } = await reader.read();
      if (done) break;
      size += value.byteLength;
      if (size > limit) throw new TooLargeError('the answer', limit, 'more');
      await holding?.take(value.byteLength, signal);
      chunks.push(value);
    }
  } catch (error) {
    await reader.cancel().catch(() => undefined);
    throw error;
  }
  return new TextDecoder().decode(Buffer.concat(chunks));
}
