import { randomBytes } from 'node:crypto';
import { chmod, mkdtemp, rm } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { MorvaneBridgeError } from './errors';

/** Where the host listens for the bridge, and what to clean up afterwards. */
export interface PipeLocation {
  /** The value of MORVANE_PIPE. */
  path: string;
  /** A private folder holding the socket, removed when the pipe is no longer needed. */
  folder?: string;
}

const socketName = 'bridge.sock';
const folderPrefix = 'morvane-';
// mkdtemp appends six characters to the prefix.
const folderNameLength = folderPrefix.length + 6;

/** Longest socket path, in bytes, that the platform's sockaddr_un holds with its final NUL. */
export function socketPathLimit(platform: NodeJS.Platform): number {
  return platform === 'linux' || platform === 'android' ? 107 : 103;
}

export function windowsPipePath(): string {
  return `\\\\.\\pipe\\morvane-${randomBytes(12).toString('hex')}`;
}

/** The socket path a folder under `base` gives, as long as mkdtemp will make it. */
export function predictedSocketPath(base: string): string {
  return join(base, 'x'.repeat(folderNameLength), socketName);
}

export interface LocationEnvironment {
  platform: NodeJS.Platform;
  runtimeDir?: string;
  tempDir: string;
  /** Tried last, as its path is short; /tmp unless given. */
  fallbackDir?: string;
}

export function currentEnvironment(): LocationEnvironment {
  return { platform: process.platform, runtimeDir: process.env.XDG_RUNTIME_DIR, tempDir: tmpdir() };
}

/**
 * Makes a fresh place to listen on. On Windows a named pipe with a random name; elsewhere a
 * socket inside a new folder of mode 0700 under the runtime folder or the temporary folder, so
 * that no other user can connect before the bridge does.
 */
export async function createPipeLocation(
  environment: LocationEnvironment = currentEnvironment(),
): Promise<PipeLocation> {
  if (environment.platform === 'win32') return { path: windowsPipePath() };

  const limit = socketPathLimit(environment.platform);
  const bases = [environment.runtimeDir, environment.tempDir, environment.fallbackDir ?? '/tmp'].filter(
    (base): base is string => base !== undefined && base !== '',
  );
  const problems: string[] = [];
  for (const base of bases) {
    const length = Buffer.byteLength(predictedSocketPath(base));
    if (length > limit) {
      problems.push(`${base}: socket path of ${length} bytes exceeds ${limit}`);
      continue;
    }
    let folder: string;
    try {
      folder = await mkdtemp(join(base, folderPrefix));
    } catch (error) {
      problems.push(`${base}: ${(error as Error).message}`);
      continue;
    }
    try {
      await chmod(folder, 0o700);
    } catch (error) {
      await rm(folder, { recursive: true, force: true });
      throw error;
    }
    return { path: join(folder, socketName), folder };
  }
  throw new MorvaneBridgeError(`no folder can hold the bridge's socket (${problems.join('; ')})`);
}

export async function removePipeLocation(location: PipeLocation): Promise<void> {
  if (location.folder !== undefined) await rm(location.folder, { recursive: true, force: true });
}
