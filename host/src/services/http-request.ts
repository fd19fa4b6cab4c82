import { ResultCode, type HttpAnswerParams, type HttpRequestParams } from '../protocol';
import { describeFetchError, isTimeout, type FetchLike } from './fetch';
import { collectHeaders } from './response-headers';
import { limitSignal } from '../time-limits';
import { boundedText, fetchWithRedirectPolicy, type BodyBytes, type FetchPolicy } from './fetch-policy';

export interface HttpRequestOptions extends FetchPolicy {
  fetch: FetchLike;
  timeoutMs: number;
  /** The largest body handed to the library. */
  maxBodyBytes: number;
  /** Counts the body's bytes as they arrive, and holds its reading back while it has no room. */
  bodyBytes?: BodyBytes;
  /** Aborts the exchange when the bridge goes away. */
  signal?: AbortSignal;
}

/**
 * Carries out one HTTP exchange for the library and builds its answer. Never rejects: a failure
 * becomes a result code with a message, so the library always hears back.
 */
export async function performHttpRequest(
  request: HttpRequestParams,
  options: HttpRequestOptions,
): Promise<HttpAnswerParams> {
  const answer = (fields: Partial<HttpAnswerParams>): HttpAnswerParams => ({
    sdkTaskId: request.sdkTaskId,
    result: ResultCode.Ok,
    httpStatusCode: 0,
    errorMsg: '',
    headers: {},
    body: '',
    sdkData: request.sdkData,
    ...fields,
  });

  const timeout = limitSignal(options.timeoutMs);
  const signal = options.signal ? AbortSignal.any([timeout, options.signal]) : timeout;
  const method = request.method === 'POST' ? 'POST' : 'GET';
  try {
    const response = await fetchWithRedirectPolicy(
      options.fetch,
      request.url,
      { method, headers: request.headers, body: method === 'POST' ? request.body : undefined, signal },
      options,
    );
    const body = await boundedText(response, options.maxBodyBytes, options.bodyBytes, signal);
    return answer({ httpStatusCode: response.status, headers: collectHeaders(response.headers), body });
  } catch (error) {
    if (timeout.aborted && isTimeout(timeout.reason)) {
      return answer({
        result: ResultCode.Timeout,
        errorMsg: `no complete answer from ${request.url} within ${options.timeoutMs} ms`,
      });
    }
    return answer({ result: ResultCode.NetError, errorMsg: describeFetchError(error) });
  }
}
