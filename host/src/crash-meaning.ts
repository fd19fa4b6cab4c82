// What the end of a process that nobody asked to end means: the POSIX signal that killed it, or
// the Windows status code it ended with. Node gives a Windows status as an unsigned exit code
// (0xC0000005 is 3221225477); they are shown in hex, as the system's tools show them.

const signalMeanings: Readonly<Partial<Record<NodeJS.Signals, string>>> = {
  SIGSEGV: 'invalid memory access',
  SIGBUS: 'bus error: misaligned or unmapped memory access',
  SIGABRT: 'aborted (abort(), a failed assertion or a fatal error in the runtime)',
  SIGILL: 'illegal instruction',
  SIGFPE: 'arithmetic error, such as an integer division by zero',
  SIGKILL: 'killed',
  SIGTERM: 'terminated',
  SIGINT: 'interrupted',
  SIGHUP: 'hang-up',
  SIGQUIT: 'quit',
  SIGTRAP: 'trace or breakpoint trap',
  SIGSYS: 'bad system call',
  SIGPIPE: 'wrote to a pipe with no reader',
  SIGXCPU: 'CPU time limit exceeded',
  SIGXFSZ: 'file size limit exceeded',
};

const windowsStatusMeanings: ReadonlyMap<number, string> = new Map([
  [0xc0000005, 'access violation'],
  [0xc0000006, 'in-page error: a page of memory could not be read'],
  [0xc000001d, 'illegal instruction'],
  [0xc0000025, 'noncontinuable exception'],
  [0xc000008c, 'array bounds exceeded'],
  [0xc000008e, 'floating-point division by zero'],
  [0xc0000094, 'integer divide by zero'],
  [0xc0000095, 'integer overflow'],
  [0xc0000096, 'privileged instruction'],
  [0xc00000fd, 'stack overflow'],
  [0xc0000135, 'DLL not found'],
  [0xc0000139, 'entry point not found in a DLL'],
  [0xc0000142, 'DLL initialisation failed'],
  [0xc000013a, 'ended by Ctrl+C'],
  [0xc0000374, 'heap corruption'],
  [0xc0000409, 'stack buffer overrun (a failed security check, or a fast fail)'],
  [0xc0000417, 'invalid parameter passed to a C runtime function'],
  [0x40000015, 'aborted (abort())'],
  [0x80000003, 'breakpoint'],
]);

/** Windows statuses start at 0x40000000; smaller exit codes are ordinary ones. */
const smallestWindowsStatus = 0x40000000;

/** An exit code as Windows shows a status ("0xC0000005"), or undefined for an ordinary code. */
export function windowsStatusHex(code: number): string | undefined {
  const unsigned = code >>> 0;
  if (code !== unsigned && code >= 0) return undefined;
  if (unsigned < smallestWindowsStatus) return undefined;
  return `0x${unsigned.toString(16).toUpperCase().padStart(8, '0')}`;
}

/** What killed the process or what its exit status says; undefined when the table knows neither. */
export function crashMeaning(code: number | null, signal: NodeJS.Signals | null): string | undefined {
  if (signal !== null) return signalMeanings[signal];
  if (code === null) return undefined;
  if (windowsStatusHex(code) !== undefined) return windowsStatusMeanings.get(code >>> 0);
  // The C runtime's abort() ends a Windows process with exit code 3.
  if (code === 3) return 'aborted (abort() on Windows), or the bridge could not find its pipe';
  return undefined;
}
