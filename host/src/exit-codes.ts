import { crashMeaning, windowsStatusHex } from './crash-meaning';

// The bridge exits with the Windows system error code of the pipe failure that ended it, on
// every platform; these are the codes it uses.
const exitCodeNames: ReadonlyMap<number, string> = new Map([
  [2, 'ERROR_FILE_NOT_FOUND'],
  [3, 'ERROR_PATH_NOT_FOUND'],
  [4, 'ERROR_TOO_MANY_OPEN_FILES'],
  [5, 'ERROR_ACCESS_DENIED'],
  [6, 'ERROR_INVALID_HANDLE'],
  [8, 'ERROR_NOT_ENOUGH_MEMORY'],
  [19, 'ERROR_WRITE_PROTECT'],
  [31, 'ERROR_GEN_FAILURE'],
  [87, 'ERROR_INVALID_PARAMETER'],
  [109, 'ERROR_BROKEN_PIPE'],
  [112, 'ERROR_DISK_FULL'],
  [121, 'ERROR_SEM_TIMEOUT'],
  [206, 'ERROR_FILENAME_EXCED_RANGE'],
  [231, 'ERROR_PIPE_BUSY'],
  [233, 'ERROR_PIPE_NOT_CONNECTED'],
]);

/** The name the bridge gives its own exit code, such as "ERROR_BROKEN_PIPE". */
export function bridgeExitCodeName(code: number | null): string | undefined {
  return code === null ? undefined : exitCodeNames.get(code);
}

/**
 * "exit code 109 ERROR_BROKEN_PIPE", "exit code 0xC0000005 access violation" or "signal
 * SIGKILL"; other codes stay bare.
 */
export function describeExit(code: number | null, signal: NodeJS.Signals | null): string {
  if (signal !== null) return `signal ${signal}`;
  const hex = code === null ? undefined : windowsStatusHex(code);
  if (hex !== undefined) return `exit code ${[hex, crashMeaning(code, null)].filter(Boolean).join(' ')}`;
  const name = code === null ? undefined : exitCodeNames.get(code);
  return name === undefined ? `exit code ${code}` : `exit code ${code} ${name}`;
}
