// The driver update a user cares about, end to end: a local download site, the bridge with the
// simulated library, and the package in between.
//
//   npm run demo               (MORVANE_BRIDGE=/path/to/morvane-bridge to choose the bridge)
//   npm run demo -- --wire     shows every line on the pipe
//   npm run demo -- --log      shows the library's log lines
//   npm run demo -- --crash    the library crashes in the middle of the update; the package
//                              restarts the bridge and the demo updates again
import { once } from 'node:events';
import { existsSync } from 'node:fs';
import { mkdtemp, rm } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import {
  BridgeCrashError,
  describeExit,
  resultCodeName,
  startBridge,
  type DisplayDevice,
  type DriverCheckResult,
  type MorvaneBridge,
} from '../src';
import { startCatalogueServer, type CatalogueServer } from '../src/dev/catalogue-server';
import { lineView, terminalView } from './progress';
import { writeSimMachine } from './sim-machine';

const usage = `usage: node dist/demo/main.js [--wire] [--log] [--crash]
  --wire   print every line exchanged with the bridge
  --log    print the driver library's log lines
  --crash  make the simulated library crash in the middle of the update, once: the bridge is
           restarted and the update tried again
The bridge is MORVANE_BRIDGE, or build/bin/morvane-bridge of this repository.`;

function defaultBridgePath(): string {
  const name = process.platform === 'win32' ? 'morvane-bridge.exe' : 'morvane-bridge';
  return resolve(__dirname, '..', '..', '..', 'build', 'bin', name);
}

function table(rows: string[][], indent = '  '): string {
  const widths = rows[0].map((_, column) => Math.max(...rows.map((row) => row[column].length)));
  return rows
    .map((row) => indent + row.map((cell, column) => cell.padEnd(widths[column])).join('  ').trimEnd())
    .join('\n');
}

function deviceTable(devices: DisplayDevice[], before?: DisplayDevice[]): string {
  const rows = [['#', 'Name', 'Vendor', 'Device', 'Driver', 'Date', 'Kind']];
  devices.forEach((device, index) => {
    const earlier = before?.find((d) => d.vendorId === device.vendorId && d.deviceId === device.deviceId);
    const changed = earlier !== undefined && earlier.driverVersion !== device.driverVersion;
    rows.push([
      String(index + 1),
      device.name,
      device.vendorId,
      device.deviceId,
      changed ? `${device.driverVersion} (was ${earlier.driverVersion})` : device.driverVersion,
      device.driverDate,
      device.vendorType,
    ]);
  });
  return table(rows);
}

function mebibytes(bytes: number): string {
  return `${(bytes / (1024 * 1024)).toFixed(1)} MiB`;
}

function checkSummary(result: DriverCheckResult): string {
  if (result.needUpdate) {
    return `update available: ${result.driverVersion} of ${result.driverDate}, ${mebibytes(result.fileSize)}`;
  }
  if (result.errorCode === -2007) return `up to date (${result.driverVersion})`;
  if (result.errorCode === -2005) return 'no driver in the catalogue';
  return `check failed: ${result.errorCode} ${resultCodeName(result.errorCode)} ${result.errorMsg}`.trimEnd();
}

async function run(flags: Set<string>): Promise<void> {
  const bridgePath = process.env.MORVANE_BRIDGE ?? defaultBridgePath();
  if (!existsSync(bridgePath)) {
    throw new Error(
      `no bridge at ${bridgePath}: build it (cmake -S .. -B ../build && cmake --build ../build) or set MORVANE_BRIDGE`,
    );
  }
  const out = process.stdout;
  const started = Date.now();
  const work = await mkdtemp(join(tmpdir(), 'morvane-demo-'));
  let site: CatalogueServer | undefined;
  let bridge: MorvaneBridge | undefined;
  try {
    // Sent at a pace a person can watch, but quick enough for a demo.
    site = await startCatalogueServer({ bytesPerSecond: 1024 * 1024 });
    out.write(`Driver catalogue   ${site.catalogueUrl}\n`);
    out.write(`Bridge             ${bridgePath}\n\n`);

    const crashing = flags.has('--crash');
    const machine = join(work, 'machine.json');
    // The library crashes at the unpacking step; a delay lets its last report reach the screen.
    if (crashing) writeSimMachine(machine, { crashDuringUpdate: 'unzip', stepDelayMs: 300 });
    bridge = await startBridge({
      executable: bridgePath,
      logger: {
        // A crash is told below, in words; the package's own warnings about it would repeat it.
        warn: (message) => crashing || process.stderr.write(`warning: ${message}\n`),
        error: (message) => process.stderr.write(`error: ${message}\n`),
      },
      ...(crashing && { env: { MORVANE_SIM_MACHINE: machine }, restart: { maxRestarts: 3, withinMs: 180_000 } }),
    });
    if (crashing) {
      bridge.on('crash', (crash) => {
        out.write(`\n  The bridge crashed: ${describeExit(crash.code, crash.signal)} (${crash.meaning}).\n`);
        // The next process's init reads the machine again: this time without the fault.
        writeSimMachine(machine);
      });
      bridge.on('restarted', ({ attempt, pid }) =>
        out.write(`  The package restarted the bridge (attempt ${attempt}, process ${pid}) and sent it init and the download folder again.\n`),
      );
      bridge.on('gaveUp', ({ reason }) => out.write(`  The package gave up restarting the bridge: ${reason}\n`));
    }
    if (flags.has('--wire')) {
      bridge.on('wire', (direction, line) => out.write(`${direction === 'out' ? '  >> ' : '  << '}${line}\n`));
    }
    if (flags.has('--log')) bridge.on('log', (line) => out.write(`  library: ${line}\n`));
    bridge.on('fatal', (error) => process.stderr.write(`the bridge could not handle a message: ${error}\n`));

    await bridge.init({
      appName: 'Morvane Demo',
      appId: 'morvane-demo',
      deviceId: 'demo-machine',
      clientVersion: '0.1.0',
      oversea: false,
      sdkConfigUrl: site.catalogueUrl,
      // A fresh folder each run, so the machine starts with its old drivers every time.
      configDir: join(work, 'config'),
      tempDir: join(work, 'temp'),
      logMode: flags.has('--log') ? 'all' : ['error', 'warning'],
    });
    await bridge.setDriverDownloadDir(join(work, 'downloads'));
    out.write(`Driver library     ${await bridge.getSdkVersion()}\n\n`);

    const before = await bridge.getDisplayDevices();
    out.write(`Display adapters\n${deviceTable(before)}\n\n`);

    const connected = bridge;
    const checks = await Promise.all(before.map((device) => connected.checkDisplayDeviceDriver(device)));
    out.write(`Driver check\n${table(before.map((device, index) => [device.name, checkSummary(checks[index])]))}\n\n`);

    const target = checks.findIndex((result) => result.needUpdate);
    if (target < 0) {
      out.write('Every adapter is up to date; nothing to update.\n');
      return;
    }
    const device = before[target];
    out.write(`Updating ${device.name} to ${checks[target].driverVersion}\n`);
    const updateStarted = Date.now();
    for (let attempt = 1; ; attempt++) {
      const restarted = once(bridge, 'restarted');
      restarted.catch(() => undefined);
      const view = out.isTTY && !flags.has('--wire') ? terminalView(out) : lineView(out);
      let crashed = false;
      try {
        for await (const status of bridge.updateDisplayDeviceDriver(device)) view.show(status);
      } catch (error) {
        if (!(error instanceof BridgeCrashError) || attempt >= 3) throw error;
        crashed = true;
      } finally {
        view.end();
      }
      if (!crashed) break;
      out.write(`  Update ${attempt} was cut short by the crash; waiting for the restart.\n`);
      await restarted;
      out.write(`Updating ${device.name} again\n`);
    }
    out.write(`  Done in ${((Date.now() - updateStarted) / 1000).toFixed(1)} s\n\n`);

    const after = await bridge.getDisplayDevices();
    out.write(`Display adapters after the update\n${deviceTable(after, before)}\n\n`);

    const info = await bridge.close();
    const seconds = ((Date.now() - started) / 1000).toFixed(1);
    out.write(`Bridge ended with exit code ${info.code}; all done in ${seconds} s.\n`);
  } finally {
    await bridge?.close();
    await site?.close();
    await rm(work, { recursive: true, force: true });
  }
}

// Output piped into a program that stops reading (such as head) is dropped; the run still
// finishes and cleans up.
process.stdout.on('error', (error: NodeJS.ErrnoException) => {
  if (error.code !== 'EPIPE') throw error;
});

const flags = new Set(process.argv.slice(2));
const unknown = [...flags].filter((flag) => !['--wire', '--log', '--crash'].includes(flag));
if (flags.has('--help') || flags.has('-h') || unknown.length > 0) {
  process.stderr.write(`${unknown.length > 0 ? `unknown option ${unknown.join(' ')}\n` : ''}${usage}\n`);
  process.exit(unknown.length > 0 ? 2 : 0);
}
run(flags).then(
  () => process.exit(0),
  (error: Error) => {
    process.stderr.write(`demo failed: ${error.message}\n`);
    process.exit(1);
  },
);
