// The package names the bridge's exit codes from its own table; the bridge's table is in its C++
// sources. The two must name the same codes the same way.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { describeExit } from '../src/exit-codes';
import { test } from './timed-test';

// From dist/test back to the repository.
const bridgeTable = join(__dirname, '..', '..', '..', 'exe', 'transport', 'system_error.h');

/** kErrorFilenameExcedRange = 206 -> [206, 'ERROR_FILENAME_EXCED_RANGE'] */
function bridgeCodes(): Map<number, string> {
  const codes = new Map<number, string>();
  for (const [, name, value] of readFileSync(bridgeTable, 'utf8').matchAll(/constexpr SystemError kError(\w+) = (\d+);/g)) {
    if (name === 'Success') continue;
    codes.set(Number(value), `ERROR_${name.replace(/(?<=[a-z])(?=[A-Z])/g, '_').toUpperCase()}`);
  }
  return codes;
}

test("every exit code of the bridge is named as the bridge names it, and the package names no other", () => {
  const codes = bridgeCodes();
  assert.ok(codes.size >= 10, `read ${codes.size} codes from ${bridgeTable}`);
  for (const [code, name] of codes) assert.equal(describeExit(code, null), `exit code ${code} ${name}`);
  for (let code = 0; code < 1000; code++) {
    if (!codes.has(code)) assert.equal(describeExit(code, null), `exit code ${code}`, 'named, yet not a code of the bridge');
  }
});
