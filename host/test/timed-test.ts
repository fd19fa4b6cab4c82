// node:test's test() with a time limit per test, so that a hang fails the test that hangs and
// names it, instead of cancelling its whole file.
import { test as nodeTest, type TestContext, type TestOptions } from 'node:test';

const defaultTimeoutMs = 15_000;

type Body = (context: TestContext) => void | Promise<void>;

export function test(name: string, body: Body): Promise<void>;
export function test(name: string, options: TestOptions, body: Body): Promise<void>;
export function test(name: string, optionsOrBody: TestOptions | Body, maybeBody?: Body): Promise<void> {
  const [options, body] = typeof optionsOrBody === 'function' ? [{}, optionsOrBody] : [optionsOrBody, maybeBody!];
  return nodeTest(name, { timeout: defaultTimeoutMs, ...options }, body);
}
