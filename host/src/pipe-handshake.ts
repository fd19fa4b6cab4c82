import { randomBytes, timingSafeEqual } from 'node:crypto';
import type { Socket } from 'node:net';

/** The environment variable that hands the bridge the secret of its pipe. */
export const pipeSecretVariable = 'MORVANE_PIPE_SECRET';

/** A fresh secret for one pipe: 32 random bytes as 64 lowercase hex digits. */
export function newPipeSecret(): string {
  return randomBytes(32).toString('hex');
}

/** The line, line feed included, that the bridge must send first to be taken as the host's child. */
export function helloLine(secret: string): Buffer {
  return Buffer.from(`${JSON.stringify({ type: 'hello', from: 'client', to: 'host', secret })}\n`);
}

const lineFeed = 0x0a;

/**
 * Waits for a connection's first line and compares it with `expected` byte for byte, writing
 * nothing. Resolves true once it matched: the socket is then paused, with any bytes that came
 * after the line put back to be read next. Resolves false, having destroyed the socket, for a
 * different or longer first line, an early end or a failure; a socket destroyed by the caller
 * while it waits also resolves false. At most `expected.length` bytes are kept while waiting.
 */
export function awaitHello(socket: Socket, expected: Buffer): Promise<boolean> {
  return new Promise((resolve) => {
    let received = Buffer.alloc(0);
    const finish = (matched: boolean, rest?: Buffer) => {
      socket.off('data', onData);
      socket.off('end', refuse);
      socket.off('error', refuse);
      socket.off('close', refuse);
      if (matched) {
        socket.pause();
        if (rest !== undefined && rest.length > 0) socket.unshift(rest);
      } else {
        // Errors after the refusal have no one to tell.
        socket.on('error', () => undefined);
        socket.destroy();
      }
      resolve(matched);
    };
    const refuse = () => finish(false);
    const onData = (chunk: Buffer) => {
      const wanted = expected.length - received.length;
      received = Buffer.concat([received, chunk.subarray(0, wanted)]);
      if (received.length < expected.length) {
        // A line that ends before the expected one has no chance to match.
        if (received.includes(lineFeed)) refuse();
        return;
      }
      if (timingSafeEqual(received, expected)) finish(true, chunk.subarray(wanted));
      else refuse();
    };
    socket.on('data', onData);
    socket.once('end', refuse);
    socket.once('error', refuse);
    socket.once('close', refuse);
  });
}
