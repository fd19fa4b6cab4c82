import { lstat, open, rename, type FileHandle } from 'node:fs/promises';
import path from 'node:path';
import { Writable } from 'node:stream';
import { HeldFolder, sameFile, type FileIdentity } from './held-folder';
import { RefusedPathError } from './refused-path';
import { partialFileName } from './stale-partials';

/**
 * The temporary file a download writes, beside its target in a held folder. Its handle stays
 * open until the end, so that what lies at the target after the rename can be compared with what
 * was written.
 */
export class PartialFile {
  private renamed = false;

  private constructor(
    private readonly folder: HeldFolder,
    private readonly handle: FileHandle,
    private readonly identity: FileIdentity,
    private readonly name: string,
    private readonly target: string,
    private readonly requested: string,
  ) {}

  /**
   * Creates the file exclusively (a file already there, or a link in its place, is never written
   * through) in the folder of `target`, and checks that this folder is still where it was checked
   * before a byte goes in. `beforeCreate` runs once the folder is held (tests swap it there).
   */
  static async create(
    target: string,
    requested: string,
    suffix: string,
    beforeCreate?: () => Promise<void>,
  ): Promise<PartialFile> {
    const folder = await HeldFolder.open(path.dirname(target), requested);
    try {
      await beforeCreate?.();
      const name = path.basename(partialFileName(target, suffix));
      const handle = await open(folder.entry(name), 'wx').catch((error: NodeJS.ErrnoException) => {
        if (error.code !== 'EEXIST') throw error;
        throw new RefusedPathError(`"${requested}": something is already at the name of its temporary file, ${name}`);
      });
      const identity = await handle.stat({ bigint: true }).catch(async (error: unknown) => {
        await handle.close();
        throw error;
      });
      const file = new PartialFile(folder, handle, identity, name, target, requested);
      try {
        await folder.confirm();
      } catch (error) {
        await file.discard();
        throw error;
      }
      return file;
    } catch (error) {
      await folder.close();
      throw error;
    }
  }

  /** Where the file is meant to be, for diagnostics and the last-chance removal at exit. */
  get path(): string {
    return path.join(path.dirname(this.target), this.name);
  }

  /**
   * A stream into the file that leaves the handle open (a FileHandle's own write stream closes
   * it when the stream ends, and holds its close() until then).
   */
  writable(): Writable {
    const { handle } = this;
    return new Writable({
      async write(chunk: Buffer, _encoding, callback) {
        try {
          for (let offset = 0; offset < chunk.length; ) {
            offset += (await handle.write(chunk, offset)).bytesWritten;
          }
          callback();
        } catch (error) {
          callback(error as Error);
        }
      },
    });
  }

  /**
   * Renames the file over the target, then makes sure the target is the file written: a folder
   * swapped after the last check would have taken it elsewhere. `beforeRename` runs between that
   * check and the rename (tests swap a folder there).
   */
  async publish(beforeRename?: () => Promise<void>): Promise<void> {
    await this.folder.confirm();
    await beforeRename?.();
    await rename(this.folder.entry(this.name), this.folder.entry(path.basename(this.target)));
    this.renamed = true;
    if (!sameFile(await lstat(this.target, { bigint: true }).catch(() => undefined), this.identity)) {
      throw new RefusedPathError(`"${this.requested}": a folder on its path was replaced while downloading; the file is not at the path`);
    }
  }

  /** Removes what was written, from the folder it was written in, and lets the handles go. */
  async discard(): Promise<void> {
    await this.folder.remove(this.renamed ? path.basename(this.target) : this.name, this.identity);
    await this.close();
  }

  async close(): Promise<void> {
    await this.handle.close().catch(() => undefined);
    await this.folder.close();
  }
}
