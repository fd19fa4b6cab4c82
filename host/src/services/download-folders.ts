import { realpath } from 'node:fs/promises';
import path from 'node:path';

/** A download path the host will not write to; the download fails with this reason. */
export class RefusedPathError extends Error {
  constructor(reason: string) {
    super(reason);
    this.name = 'RefusedPathError';
  }
}

/** Whether `target` lies inside `folder` (and is not the folder itself). Both must be absolute. */
export function isInside(folder: string, target: string, paths: path.PlatformPath = path): boolean {
  const relative = paths.relative(folder, target);
  return (
    relative !== '' &&
    relative !== '..' &&
    !relative.startsWith(`..${paths.sep}`) &&
    !paths.isAbsolute(relative)
  );
}

/**
 * The real path of `absolute`: symbolic links resolved as far as the path exists, the rest (what a
 * download will create) appended as it is.
 */
async function realPathOfNearest(absolute: string): Promise<string> {
  const missing: string[] = [];
  let current = absolute;
  for (;;) {
    try {
      return path.join(await realpath(current), ...missing.reverse());
    } catch (error) {
      const code = (error as NodeJS.ErrnoException).code;
      if (code !== 'ENOENT' && code !== 'ENOTDIR') throw error;
      const parent = path.dirname(current);
      if (parent === current) return absolute;
      missing.push(path.basename(current));
      current = parent;
    }
  }
}

/**
 * Checks a path the library asked to download to and returns where to write it: the real path,
 * which must lie inside one of the folders once `..` and symbolic links are resolved.
 */
export async function confineDownloadPath(requested: string, folders: readonly string[]): Promise<string> {
  if (requested.includes('\0')) {
    throw new RefusedPathError(`"${requested.replace(/\0/g, '\\0')}" has a NUL byte in it`);
  }
  if (!path.isAbsolute(requested)) {
    throw new RefusedPathError(`"${requested}" is not an absolute path`);
  }
  if (folders.length === 0) {
    throw new RefusedPathError(
      `"${requested}": no download folder is allowed; call setDriverDownloadDir or pass downloadDirs to startBridge`,
    );
  }
  const resolved = path.resolve(requested);
  const target = path.join(await realPathOfNearest(path.dirname(resolved)), path.basename(resolved));
  for (const folder of folders) {
    if (isInside(await realPathOfNearest(path.resolve(folder)), target)) return target;
  }
  throw new RefusedPathError(`"${requested}" is outside the download folders (${folders.join(', ')})`);
}
