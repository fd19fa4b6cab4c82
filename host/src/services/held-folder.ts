import { constants, existsSync, type BigIntStats } from 'node:fs';
import { lstat, open, realpath, rm, type FileHandle } from 'node:fs/promises';
import path from 'node:path';
import { RefusedPathError } from './refused-path';

/** The device and inode of a file: what it is, whatever its name. */
export interface FileIdentity {
  dev: bigint;
  ino: bigint;
}

export function sameFile(a: FileIdentity | undefined, b: FileIdentity): boolean {
  return a !== undefined && a.dev === b.dev && a.ino === b.ino;
}

let procFdUsable: boolean | undefined;

/**
 * The folder a download writes in, held from the check to the end. Where the system has
 * /proc/self/fd (Linux) the folder is held open and its entries are reached through its
 * descriptor: the partial file is created, renamed and removed in that very folder even when
 * someone renames it or puts a link in its place meanwhile, so a swap cannot redirect a write or
 * hide a partial file from its removal. Elsewhere the folder is reached by its path, after the
 * path has been checked to lead to the same folder (device and inode) without links.
 */
export class HeldFolder {
  private constructor(
    readonly path: string,
    private readonly requested: string,
    private readonly identity: BigIntStats,
    private readonly handle: FileHandle | undefined,
  ) {}

  static async open(folder: string, requested: string): Promise<HeldFolder> {
    procFdUsable ??= process.platform === 'linux' && existsSync('/proc/self/fd');
    if (!procFdUsable) return new HeldFolder(folder, requested, await lstat(folder, { bigint: true }), undefined);
    // Opened through a link put in its place since the check, it is found out by confirm().
    const handle = await open(folder, constants.O_RDONLY | constants.O_DIRECTORY);
    try {
      return new HeldFolder(folder, requested, await handle.stat({ bigint: true }), handle);
    } catch (error) {
      await handle.close();
      throw error;
    }
  }

  /** A path to the entry `name` of the held folder, wherever that folder is now. */
  entry(name: string): string {
    return this.handle === undefined
      ? path.join(this.path, name)
      : `/proc/self/fd/${this.handle.fd}/${name}`;
  }

  /** Throws unless the held folder is, right now, at the path that was checked. */
  async confirm(): Promise<void> {
    if (!(await this.isInPlace())) {
      throw new RefusedPathError(`"${this.requested}": a folder on its path was replaced while downloading`);
    }
  }

  /** Removes the entry `name` if it is still the file `file`. */
  async remove(name: string, file: FileIdentity): Promise<void> {
    // Reached by its path, the folder must be the held one, or the name is someone else's.
    if (this.handle === undefined && !(await this.isInPlace())) return;
    const entry = this.entry(name);
    if (!sameFile(await lstat(entry, { bigint: true }).catch(() => undefined), file)) return;
    await rm(entry, { force: true }).catch(() => undefined);
  }

  async close(): Promise<void> {
    await this.handle?.close().catch(() => undefined);
  }

  private async isInPlace(): Promise<boolean> {
    if (this.handle !== undefined) {
      return (await realpath(`/proc/self/fd/${this.handle.fd}`).catch(() => undefined)) === this.path;
    }
    if ((await realpath(this.path).catch(() => undefined)) !== this.path) return false;
    return sameFile(await lstat(this.path, { bigint: true }).catch(() => undefined), this.identity);
  }
}
