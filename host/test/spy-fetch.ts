// Fetches that stand in for the app's own: they record what reaches them and answer from a table,
// or hold their answers until the test lets them go.
import type { FetchLike } from '../src/services/fetch';

export interface SeenRequest {
  url: string;
  method: string;
  headers: Headers;
  body: unknown;
  redirect: RequestInit['redirect'];
}

/** Answers each URL with what `answer` makes of it, recording every request that reaches it. */
export function spyFetch(answer: (url: string) => Response = () => new Response('ok')) {
  const seen: SeenRequest[] = [];
  const fetch: FetchLike = async (url, init = {}) => {
    seen.push({ url, method: init.method ?? 'GET', headers: new Headers(init.headers), body: init.body, redirect: init.redirect });
    return answer(url);
  };
  return { fetch, seen };
}

/** A redirect as Node's fetch returns it for redirect: 'manual'. */
export function redirectTo(location: string, status = 302): Response {
  return new Response(null, { status, headers: { location } });
}

export interface HeldCall {
  url: string;
  /** Lets the fetch resolve with this answer (a small text by default). */
  release(response?: Response): void;
}

/**
 * A fetch whose answers wait until the test releases them; an aborted one rejects. Counts the
 * fetches in flight (called, neither released nor aborted) and the most there ever were.
 */
export function heldFetch() {
  const calls: HeldCall[] = [];
  let inFlight = 0;
  let mostInFlight = 0;
  const fetch: FetchLike = (url, init = {}) =>
    new Promise<Response>((resolve, reject) => {
      inFlight += 1;
      mostInFlight = Math.max(mostInFlight, inFlight);
      let settled = false;
      const settle = (action: () => void) => {
        if (settled) return;
        settled = true;
        inFlight -= 1;
        action();
      };
      calls.push({ url, release: (response = new Response('ok')) => settle(() => resolve(response)) });
      init.signal?.addEventListener('abort', () => settle(() => reject(init.signal!.reason)), { once: true });
    });
  return {
    fetch,
    calls,
    get inFlight() {
      return inFlight;
    },
    get mostInFlight() {
      return mostInFlight;
    },
  };
}
