/** A download path the host will not write to; the download fails with this reason. */
export class RefusedPathError extends Error {
  constructor(reason: string) {
    super(reason);
    this.name = 'RefusedPathError';
  }
}
