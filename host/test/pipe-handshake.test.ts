// The hello line a connection must send first, on its own over a socket pair.
import assert from 'node:assert/strict';
import { once } from 'node:events';
import { describe } from 'node:test';
import { test } from './timed-test';
import { awaitHello, helloLine, newPipeSecret } from '../src/pipe-handshake';
import { delay, socketPair } from './helpers';

const secret = newPipeSecret();
const hello = helloLine(secret);

/** Sends the pieces from the bridge's end, one write each, and reports what awaitHello made of them. */
async function heard(pieces: (string | Buffer)[], end = false) {
  const { server, near, far } = await socketPair();
  // The refused end may be gone while the bridge's end still writes.
  far.on('error', () => undefined);
  try {
    const result = awaitHello(near, hello);
    for (const piece of pieces) {
      far.write(piece);
      await delay(5);
    }
    if (end) far.end();
    const matched = await result;
    let rest = '';
    if (matched) {
      near.setEncoding('utf8');
      near.on('data', (chunk: string) => (rest += chunk));
      near.resume();
      far.end();
      await once(near, 'end');
    }
    return { matched, rest, destroyed: near.destroyed };
  } finally {
    near.destroy();
    far.destroy();
    server.close();
  }
}

describe('the hello line', () => {
  test('is a fresh 64-hex-digit secret in the agreed line', () => {
    assert.match(secret, /^[0-9a-f]{64}$/);
    assert.notEqual(newPipeSecret(), secret);
    assert.equal(hello.toString(), `{"type":"hello","from":"client","to":"host","secret":"${secret}"}\n`);
  });

  test('matches whole, in pieces, and hands on the bytes that follow it', async () => {
    const text = hello.toString();
    const cases: [string, (string | Buffer)[], string][] = [
      ['alone', [hello], ''],
      ['byte by byte', [...text].map((character) => character), ''],
      ['with the next lines in the same write', [`${text}{"a":1}\n{"b"`, ':2}\n'], '{"a":1}\n{"b":2}\n'],
      ['split inside the secret, the rest following', [text.slice(0, 70), `${text.slice(70)}next\n`], 'next\n'],
    ];
    for (const [name, pieces, rest] of cases) {
      assert.deepEqual(await heard(pieces), { matched: true, rest, destroyed: false }, name);
    }
  });

  test('refuses anything else and closes the connection', async () => {
    const text = hello.toString();
    const otherSecret = helloLine(newPipeSecret());
    const cases: [string, (string | Buffer)[], boolean?][] = [
      ['another secret', [otherSecret]],
      ['the secret in upper case', [text.replace(secret, secret.toUpperCase())]],
      ['a short line', ['{"type":"hello"}\n']],
      ['an empty line', ['\n']],
      ['the line without its line feed, then more', [`${text.slice(0, -1)} and more\n`]],
      ['a long line without a line feed', ['x'.repeat(100_000)]],
      ['the line cut short by the end', [text.slice(0, 40)], true],
      ['nothing, then the end', [], true],
    ];
    for (const [name, pieces, end] of cases) {
      const result = await heard(pieces, end);
      assert.deepEqual(result, { matched: false, rest: '', destroyed: true }, name);
    }
  });

  test('a connection destroyed while it waits is refused', async () => {
    const { server, near, far } = await socketPair();
    const result = awaitHello(near, hello);
    near.destroy();
    assert.equal(await result, false);
    far.destroy();
    server.close();
  });
});
