/** Keeps the last bytes a process wrote, for error messages after it ends. */
export class OutputTail {
  private chunks: Buffer[] = [];
  private size = 0;

  constructor(private readonly limit: number) {}

  append(chunk: Buffer): void {
    if (this.limit <= 0) return;
    this.chunks.push(chunk);
    this.size += chunk.length;
    while (this.size - this.chunks[0].length >= this.limit) {
      this.size -= this.chunks.shift()!.length;
    }
  }

  text(): string {
    const all = Buffer.concat(this.chunks);
    return all.subarray(Math.max(0, all.length - this.limit)).toString('utf8');
  }
}
