// The host under load (benchmarks/README.md, "The host load benchmark"): a stand-in for the
// bridge (peer.js) fires 1,000 HTTP requests with 1 MiB answers and 1,000 downloads of 1 MiB at
// once; the host package serves them with its default limits from a local site in another
// process (server.js). Prints the host's peak resident memory and its most open descriptors,
// sampled, and how every request ended; exits 1 when a target is missed.
//
// node load.js HOST_PACKAGE_DIR [--requests N] [--downloads N] [--bytes N] [--budget BYTES] [--unlimited]
// --budget sets httpBodyBudgetBytes; --unlimited sets the limits so high that none holds anything
// back, as before they existed.
'use strict';
const { spawn } = require('node:child_process');
const { once } = require('node:events');
const { mkdtempSync, readdirSync, readFileSync, rmSync } = require('node:fs');
const { tmpdir } = require('node:os');
const { join } = require('node:path');
const { createInterface } = require('node:readline');

const targets = { peakResidentMB: 300, mostDescriptors: 100 };
const [packageDir, ...flags] = process.argv.slice(2);
const option = (name, fallback) => {
  const at = flags.indexOf(`--${name}`);
  return at < 0 ? fallback : Number(flags[at + 1]);
};
const requests = option('requests', 1000);
const downloads = option('downloads', 1000);
const bytes = option('bytes', 1024 * 1024);
const budget = option('budget', undefined);
const unlimited = flags.includes('--unlimited');
const { startBridge } = require(packageDir);

const descriptors = () => readdirSync('/proc/self/fd').length - 1; // less the listing's own
const statusField = (name) => Number(new RegExp(`^${name}:\\s+(\\d+) kB`, 'm').exec(readFileSync('/proc/self/status', 'utf8'))[1]) * 1024;
const mb = (value) => (value / 1024 / 1024).toFixed(1);

async function startSite() {
  const site = spawn(process.execPath, [join(__dirname, 'server.js'), String(bytes)], { stdio: ['pipe', 'pipe', 'inherit'] });
  const [url] = await once(createInterface({ input: site.stdout }), 'line');
  return { url, stop: () => site.stdin.end() };
}

async function main() {
  const folder = mkdtempSync(join(tmpdir(), 'host-load-'));
  const site = await startSite();
  const before = { resident: statusField('VmRSS'), descriptors: descriptors() };
  let mostDescriptors = before.descriptors;
  const sampler = setInterval(() => {
    mostDescriptors = Math.max(mostDescriptors, descriptors());
  }, 5);
  const huge = 1_000_000;
  const bridge = await startBridge({
    executable: process.execPath,
    args: [join(__dirname, 'peer.js')],
    env: { LOAD_REQUESTS: String(requests), LOAD_DOWNLOADS: String(downloads), LOAD_BYTES: String(bytes), LOAD_BASE_URL: site.url, LOAD_FOLDER: folder },
    downloadDirs: [folder],
    timeouts: { httpMs: 120_000, downloadStallMs: 120_000 },
    ...(budget === undefined ? {} : { httpBodyBudgetBytes: budget }),
    ...(unlimited ? { maxConcurrentHttpRequests: huge, maxConcurrentDownloads: huge, httpBodyBudgetBytes: 2 ** 52 } : {}),
  });
  const start = Date.now();
  const tally = await new Promise((resolve, reject) => {
    bridge.on('log', (line) => {
      if (line.startsWith('load-done ')) resolve(JSON.parse(line.slice('load-done '.length)));
    });
    bridge.on('exit', (info) => reject(new Error(`the peer exited early: ${JSON.stringify(info)}`)));
  });
  const seconds = (Date.now() - start) / 1000;
  clearInterval(sampler);
  mostDescriptors = Math.max(mostDescriptors, descriptors());
  const peakResident = statusField('VmHWM');
  await bridge.close();
  site.stop();
  rmSync(folder, { recursive: true, force: true });

  const ended = tally.httpServed + tally.httpFailed + tally.downloadsServed + tally.downloadsFailed;
  const rows = [
    ['setting', unlimited ? 'limits lifted (--unlimited)' : budget === undefined ? 'default limits' : `a budget of ${budget} bytes`, ''],
    ['requests', `${requests} HTTP of ${bytes} bytes, ${downloads} downloads of ${bytes} bytes`, ''],
    ['peak resident memory, MB', `${mb(peakResident)} (${mb(before.resident)} before the load)`, `< ${targets.peakResidentMB}`],
    ['most open descriptors', `${mostDescriptors} (${before.descriptors} before the load)`, `< ${targets.mostDescriptors}`],
    ['ended', `${ended} of ${requests + downloads} in ${seconds.toFixed(1)} s`, 'all'],
    ['HTTP served / failed', `${tally.httpServed} / ${tally.httpFailed}`, ''],
    ['downloads served / failed', `${tally.downloadsServed} / ${tally.downloadsFailed}`, ''],
  ];
  for (const [name, value, target] of rows) console.log(`${name.padEnd(28)} ${value.padEnd(48)} ${target}`);
  for (const failure of tally.failures) console.log(`  e.g. ${failure}`);
  const missed = [
    peakResident >= targets.peakResidentMB * 1024 * 1024 && 'peak resident memory',
    mostDescriptors >= targets.mostDescriptors && 'open descriptors',
    ended !== requests + downloads && 'every request ends',
  ].filter(Boolean);
  if (missed.length > 0) {
    console.log(`MISSED: ${missed.join(', ')}`);
    process.exitCode = 1;
  }
}

main().catch((error) => {
  console.error(error);
  process.exit(2);
});
