// The package as a user gets it: packed from a checkout without build output, installed from
// the tarball into a scratch project, and used from CommonJS, ESM and TypeScript.
import assert from 'node:assert/strict';
import { execFile, spawn } from 'node:child_process';
import { once } from 'node:events';
import { cp, mkdir, mkdtemp, readdir, readFile, rm, symlink, writeFile } from 'node:fs/promises';
import { existsSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, relative, resolve } from 'node:path';
import { after, before, describe } from 'node:test';
import { promisify } from 'node:util';
import { fakeBridgePath } from './helpers';
import { test } from './timed-test';
import { underWine } from './wine';

const run = promisify(execFile);
const packageRoot = resolve(__dirname, '..', '..');
const packageName = '@morvane/bridge-host';

/** npm as the running `npm test` started it, or the one on the PATH. */
function npm(args: string[], cwd: string, cache: string) {
  const execPath = process.env.npm_execpath;
  const [command, commandArgs] =
    execPath !== undefined && execPath.endsWith('.js') ? [process.execPath, [execPath, ...args]] : ['npm', args];
  return run(command, commandArgs, {
    cwd,
    env: { ...process.env, npm_config_cache: cache, npm_config_update_notifier: 'false' },
    shell: process.platform === 'win32' && command === 'npm',
  });
}

async function filesUnder(folder: string): Promise<string[]> {
  const entries = await readdir(folder, { recursive: true, withFileTypes: true });
  return entries.filter((entry) => entry.isFile()).map((entry) => relative(folder, join(entry.parentPath ?? entry.path, entry.name)));
}

const commonJsScript = `
const assert = require('node:assert/strict');
const host = require('${packageName}');
(async () => {
  assert.throws(() => require('${packageName}/dist/src/bridge.js'), { code: 'ERR_PACKAGE_PATH_NOT_EXPORTED' });
  const bridge = await host.startBridge({ executable: process.execPath, args: [process.env.FAKE_BRIDGE] });
  const version = await bridge.getSdkVersion({ timeoutMs: 5000 });
  const exit = await bridge.close();
  const closed = await bridge.getSdkVersion().catch((error) => error instanceof host.BridgeClosedError);
  console.log(JSON.stringify({ version, exit: exit.code, closed, cancel: host.ResultCode.CancelOperation }));
})().catch((error) => { console.error(error); process.exit(1); });
`;

const esmScript = `
import assert from 'node:assert/strict';
import { BridgeClosedError, ResultCode, startBridge } from '${packageName}';
await assert.rejects(import('${packageName}/dist/src/bridge.js'), { code: 'ERR_PACKAGE_PATH_NOT_EXPORTED' });
const bridge = await startBridge({ executable: process.execPath, args: [process.env.FAKE_BRIDGE] });
const version = await bridge.getSdkVersion({ timeoutMs: 5000 });
const exit = await bridge.close();
const closed = await bridge.getSdkVersion().catch((error) => error instanceof BridgeClosedError);
console.log(JSON.stringify({ version, exit: exit.code, closed, cancel: ResultCode.CancelOperation }));
`;

// Compiled only: checks that the exports map leads TypeScript to the declarations.
const typeScriptSource = `
import { startBridge, ResultCode, UpdateState, type UpdateStateCode, type UpdateStatus } from '${packageName}';
export async function update(executable: string): Promise<UpdateStatus | undefined> {
  await using bridge = await startBridge({ executable, downloadDirs: ['/tmp'] });
  const version: string = await bridge.getSdkVersion({ timeoutMs: 1000 });
  const finished: UpdateStateCode = UpdateState.Finish;
  const job = bridge.updateDisplayDeviceDriver({ vendorId: '10DE', deviceId: '2484' });
  for await (const status of job) if (status.state === finished || status.errorCode === ResultCode.CancelOperation) break;
  return version === '' ? undefined : job.ended;
}
// Every way of listening knows each event's arguments.
export function listen(bridge: Awaited<ReturnType<typeof startBridge>>): void {
  bridge.addListener('exit', (info) => { const code: number | null = info.code; void code; });
  bridge.prependListener('log', (line) => { const text: string = line; void text; });
  bridge.prependOnceListener('malformed', (line, problem) => { void (line.length + problem.length); });
  // @ts-expect-error a log line is text, not a number
  bridge.on('log', (line: number) => void line);
  // @ts-expect-error exit carries the exit information, not text
  bridge.addListener('exit', (info: string) => void info);
  // @ts-expect-error nor does prependListener take it as text
  bridge.prependListener('exit', (info: string) => void info);
  // @ts-expect-error there is no such event
  bridge.once('no-such-event', () => {});
}
`;

describe('the packed package', { skip: underWine && 'it runs npm, which the Windows Node package of the npm registry does not carry' }, () => {
  let work: string;
  let project: string;
  let installed: string;
  let packedFiles: string[];
  before(async () => {
    work = await mkdtemp(join(tmpdir(), 'package-test-'));
    const cache = join(work, 'npm-cache');
    // A checkout without build output: what a fresh clone has once npm ci has run.
    const checkout = join(work, 'checkout');
    await mkdir(checkout);
    for (const entry of ['package.json', 'package-lock.json', 'tsconfig.json', 'README.md', 'src']) {
      await cp(join(packageRoot, entry), join(checkout, entry), { recursive: true });
    }
    await symlink(join(packageRoot, 'node_modules'), join(checkout, 'node_modules'), 'junction');
    const { stdout } = await npm(['pack', '--json', '--pack-destination', work], checkout, cache);
    const [packed] = JSON.parse(stdout.slice(stdout.indexOf('['))) as { filename: string; files: { path: string }[] }[];
    packedFiles = packed.files.map((file) => file.path);

    project = join(work, 'project');
    await mkdir(project);
    await writeFile(join(project, 'package.json'), JSON.stringify({ name: 'scratch', version: '1.0.0', private: true }));
    await npm(['install', '--no-audit', '--no-fund', '--offline', join(work, packed.filename)], project, cache);
    installed = join(project, 'node_modules', ...packageName.split('/'));
  }, { timeout: 180_000 });
  after(() => rm(work, { recursive: true, force: true }));

  test('ships the built code, its declarations and its sources, and nothing of the tests', () => {
    for (const file of ['package.json', 'README.md', 'dist/src/index.js', 'dist/src/index.d.ts', 'dist/src/index.js.map', 'src/index.ts']) {
      assert.ok(packedFiles.includes(file), `${file} is missing from ${packedFiles.join(', ')}`);
    }
    assert.deepEqual(packedFiles.filter((file) => /^dist\/(test|demo)\/|^test\/|^demo\//.test(file)), []);
  });

  test('ships the development catalogue as a bin that serves the simulated library\'s catalogue', async () => {
    const bin = join(project, 'node_modules', '.bin', process.platform === 'win32' ? 'morvane-dev-catalogue.cmd' : 'morvane-dev-catalogue');
    const site = spawn(bin, [], { cwd: project, stdio: ['ignore', 'pipe', 'inherit'], shell: process.platform === 'win32' });
    try {
      const [url] = (await once(site.stdout!, 'data')) as [Buffer];
      const catalogue = (await (await fetch(url.toString().trim())).json()) as { drivers: { vendorId: string }[] };
      assert.ok(catalogue.drivers.length > 0, JSON.stringify(catalogue));
    } finally {
      site.kill('SIGTERM');
      await once(site, 'exit');
    }
  });

  test('every source map of the installed package resolves to a shipped source', async () => {
    const maps = (await filesUnder(installed)).filter((file) => file.endsWith('.js.map'));
    assert.ok(maps.length > 5, `only ${maps.length} source maps`);
    for (const map of maps) {
      const { sources, sourceRoot = '' } = JSON.parse(await readFile(join(installed, map), 'utf8')) as { sources: string[]; sourceRoot?: string };
      for (const source of sources) {
        const path = resolve(dirname(join(installed, map)), sourceRoot, source);
        assert.ok(existsSync(path), `${map} names ${source}, which is not in the package`);
      }
      const code = await readFile(join(installed, map.replace(/\.map$/, '')), 'utf8');
      assert.match(code, new RegExp(`//# sourceMappingURL=${map.split('/').at(-1)!.replace(/\./g, '\\.')}\\s*$`));
    }
  });

  const scripts: [string, string, string][] = [
    ['CommonJS (require)', 'check.cjs', commonJsScript],
    ['ESM (import)', 'check.mjs', esmScript],
  ];
  for (const [name, file, source] of scripts) {
    test(`starts a bridge from ${name}, and exposes only its public entry`, async () => {
      await writeFile(join(project, file), source);
      const { stdout } = await run(process.execPath, [file], { cwd: project, env: { ...process.env, FAKE_BRIDGE: fakeBridgePath } });
      assert.deepEqual(JSON.parse(stdout), { version: '9.8.7', exit: 109, closed: true, cancel: -1003 });
    });
  }

  test('type-checks from TypeScript with Node.js module resolution', { timeout: 60_000 }, async () => {
    await writeFile(join(project, 'check.ts'), typeScriptSource);
    const tsconfig = {
      compilerOptions: {
        target: 'ES2022', module: 'node16', moduleResolution: 'node16', strict: true, noEmit: true,
        // The declarations were checked when they were built; what matters here is that the
        // exports map leads to them. Checking all of @types/node again would triple the time.
        skipLibCheck: true,
        types: ['node'], typeRoots: [join(packageRoot, 'node_modules', '@types')],
      },
      files: ['check.ts'],
    };
    await writeFile(join(project, 'tsconfig.json'), JSON.stringify(tsconfig));
    const tsc = join(packageRoot, 'node_modules', 'typescript', 'bin', 'tsc');
    await run(process.execPath, [tsc, '-p', project], { cwd: project }).catch((error: { stdout: string }) => {
      assert.fail(`tsc failed:\n${error.stdout}`);
    });
  });
});
