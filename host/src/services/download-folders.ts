import { realpath } from 'node:fs/promises';
import path from 'node:path';
import { RefusedPathError } from './refused-path';
import { checkWindowsPath } from './windows-paths';

export { RefusedPathError };

/** Where a download goes: the real path to write, and the real allowed folder it lies in. */
export interface ConfinedPath {
  target: string;
  folder: string;
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
 * which must lie inside one of the folders once `..` and symbolic links are resolved. On Windows
 * (`platform`) the path must also be an ordinary file path there: no device, stream or UNC path.
 */
export async function confineDownloadPath(
  requested: string,
  folders: readonly string[],
  platform: NodeJS.Platform = process.platform,
): Promise<ConfinedPath> {
  if (requested.includes('\0')) {
    throw new RefusedPathError(`"${requested.replace(/\0/g, '\\0')}" has a NUL byte in it`);
  }
  if (platform === 'win32') checkWindowsPath(requested);
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
  for (const allowed of folders) {
    const folder = await realPathOfNearest(path.resolve(allowed));
    if (isInside(folder, target)) return { target, folder };
  }
  throw new RefusedPathError(`"${requested}" is outside the download folders (${folders.join(', ')})`);
}
