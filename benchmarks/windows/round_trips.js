// The Windows round, run on Windows Node under Wine by scripts/bench.sh --windows: sequential
// getSdkVersion round trips through the host package against the Windows bridge, beside a raw
// echo over a named pipe between two Windows Node processes, each round running both back to
// back. Then an initialised bridge is left idle while the caller counts its wake-ups from Linux.
//
// node round_trips.js BRIDGE_EXE HOST_PACKAGE_DIR WORK_DIR ROUNDS REQUESTS
// Writes WORK_DIR\idle once the idle bridge runs, and closes it once WORK_DIR\idle-done exists.
'use strict';
const { randomBytes } = require('node:crypto');
const { spawn } = require('node:child_process');
const { existsSync, mkdtempSync, writeFileSync } = require('node:fs');
const net = require('node:net');
const { join } = require('node:path');
const { performance } = require('node:perf_hooks');

const [bridgeExe, packageDir, workDir, roundsText, requestsText] = process.argv.slice(2);
const { startBridge } = require(packageDir);
const rounds = Number(roundsText);
const requests = Number(requestsText);
const warmUp = 20;

const delay = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

async function initialisedBridge() {
  const bridge = await startBridge({ executable: bridgeExe, timeouts: { connectMs: 30_000 } });
  const folder = mkdtempSync(join(workDir, 'bridge-'));
  await bridge.init({
    appName: 'bench', appId: 'bench', deviceId: 'bench', clientVersion: '1.0.0', oversea: false,
    configDir: join(folder, 'config'), tempDir: join(folder, 'temp'), logMode: 'none',
  });
  return bridge;
}

/** Milliseconds for `requests` sequential getSdkVersion calls through the host package. */
async function packageRound() {
  const bridge = await initialisedBridge();
  try {
    for (let i = 0; i < warmUp; i++) await bridge.getSdkVersion();
    const start = performance.now();
    for (let i = 0; i < requests; i++) {
      if ((await bridge.getSdkVersion()) === '') throw new Error('an empty version');
    }
    return performance.now() - start;
  } finally {
    await bridge.close();
  }
}

/** Milliseconds for `requests` sequential lines echoed by a second Windows Node process. */
async function rawRound() {
  const path = `\\\\.\\pipe\\morvane-bench-${randomBytes(8).toString('hex')}`;
  const server = net.createServer();
  await new Promise((resolve, reject) => server.once('error', reject).listen(path, resolve));
  const peer = spawn(process.execPath, [join(__dirname, 'echo_peer.js')], {
    env: { ...process.env, MORVANE_PIPE: path },
    stdio: 'ignore',
    windowsHide: true,
  });
  const socket = await new Promise((resolve) => server.once('connection', resolve));
  server.close();
  let waiting;
  let pending = '';
  socket.on('data', (chunk) => {
    pending += chunk.toString('latin1');
    const end = pending.indexOf('\n');
    if (end < 0) return;
    const line = pending.slice(0, end);
    pending = pending.slice(end + 1);
    waiting(line);
  });
  const roundTrip = (id) =>
    new Promise((resolve) => {
      waiting = resolve;
      socket.write(`{"id":"${id}","method":"getSdkVersion","params":{}}\n`);
    });
  try {
    for (let i = 0; i < warmUp; i++) await roundTrip(i);
    const start = performance.now();
    for (let i = 0; i < requests; i++) {
      if (!(await roundTrip(i)).includes(`"id":"${i}"`)) throw new Error('an echo out of order');
    }
    return performance.now() - start;
  } finally {
    socket.end();
    await new Promise((resolve) => peer.once('exit', resolve));
  }
}

async function idleBridge() {
  const bridge = await initialisedBridge();
  try {
    writeFileSync(join(workDir, 'idle'), `${bridge.pid ?? ''}\n`);
    const end = Date.now() + 60_000;
    while (!existsSync(join(workDir, 'idle-done'))) {
      if (Date.now() > end) throw new Error('nobody counted the idle wake-ups within 60 s');
      await delay(50);
    }
    if ((await bridge.getSdkVersion()) === '') throw new Error('an empty version after idling');
  } finally {
    await bridge.close();
  }
}

async function main() {
  const ratios = [];
  const raws = [];
  const hosts = [];
  for (let round = 1; round <= rounds; round++) {
    // The raw echo goes first in odd rounds, the package in even ones.
    const order = round % 2 === 1 ? [rawRound, packageRound] : [packageRound, rawRound];
    const [first, second] = [await order[0](), await order[1]()];
    const [raw, host] = round % 2 === 1 ? [first, second] : [second, first];
    raws.push(raw);
    hosts.push(host);
    ratios.push(host / raw);
    console.log(
      `round ${round}: package ${host.toFixed(0)} ms (${((host * 1000) / requests).toFixed(0)} µs each), ` +
        `raw echo ${raw.toFixed(0)} ms (${((raw * 1000) / requests).toFixed(0)} µs each), ratio ${(host / raw).toFixed(2)}`,
    );
  }
  console.log(
    `median of ${rounds}: package ${median(hosts).toFixed(0)} ms, raw echo ${median(raws).toFixed(0)} ms, ` +
      `ratio ${median(ratios).toFixed(2)} (lowest ${Math.min(...ratios).toFixed(2)}, highest ${Math.max(...ratios).toFixed(2)}); ` +
      `target <= 2: ${median(ratios) <= 2 ? 'pass' : 'FAIL'}`,
  );
  await idleBridge();
}

main().then(
  () => process.exit(0),
  (error) => {
    console.error(error);
    process.exit(1);
  },
);
