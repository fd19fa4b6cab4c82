import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { createContext, runInContext } from 'node:vm';
import { test } from './timed-test';

test('Symbol.asyncDispose is added where the runtime lacks it, as the symbol Node.js uses', () => {
  // A fresh realm has only what the JavaScript engine defines, without Node.js's additions.
  const realm = createContext({ exports: {} });
  assert.equal(runInContext('typeof Symbol.asyncDispose', realm), 'undefined');
  runInContext(readFileSync(join(__dirname, '..', 'src', 'dispose-symbol.js'), 'utf8'), realm);
  assert.equal(runInContext('Symbol.asyncDispose', realm), Symbol.asyncDispose);
});
