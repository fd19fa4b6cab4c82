import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { createContext, runInContext } from 'node:vm';
import { test } from './timed-test';

test('Symbol.asyncDispose is added where the runtime lacks it, as the symbol Node.js uses', () => {
  // A fresh realm has only what the JavaScript engine defines, without Node.js's additions. The
  // engine of Node.js 20 lacks the symbol; from Node.js 24 on the engine defines it, and it must
  // stay as it is.
  const realm = createContext({ exports: {} });
  const engineSymbol: symbol | undefined = runInContext('Symbol.asyncDispose', realm);
  runInContext(readFileSync(join(__dirname, '..', 'src', 'dispose-symbol.js'), 'utf8'), realm);
  assert.equal(runInContext('Symbol.asyncDispose', realm), engineSymbol ?? Symbol.asyncDispose);
});
