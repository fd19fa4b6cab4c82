import { crashMeaning } from './crash-meaning';
import type { BridgeCrashInfo, BridgeExitInfo } from './errors';
import { bridgeExitCodeName } from './exit-codes';

/**
 * Names an end of the bridge that close() did not ask for. `hungForMs` is set when the hang
 * watchdog killed it.
 */
export function crashInfoOf(info: BridgeExitInfo, hungForMs?: number): BridgeCrashInfo {
  if (hungForMs !== undefined) {
    return { ...info, reason: 'hung', meaning: `hung: no output for ${hungForMs} ms with a request waiting` };
  }
  const reason = info.signal !== null ? 'signal' : 'exit';
  const known = crashMeaning(info.code, info.signal);
  if (known !== undefined) return { ...info, reason, meaning: known };
  if (info.signal !== null) return { ...info, reason, meaning: `ended by ${info.signal}` };
  const name = bridgeExitCodeName(info.code);
  const meaning = name === undefined ? `exited by itself with code ${info.code}` : `the bridge lost its pipe (${name})`;
  return { ...info, reason, meaning };
}
