import { once } from 'node:events';
import { createServer, type IncomingMessage, type Server, type ServerResponse } from 'node:http';
import { connect, createServer as createNetServer, type AddressInfo, type Server as NetServer, type Socket } from 'node:net';
import { existsSync } from 'node:fs';
import { join, resolve } from 'node:path';
import { after } from 'node:test';
import { startBridge, type MorvaneBridge } from '../src';
import type { BridgeEvents } from '../src/bridge';
import type { StartBridgeOptions } from '../src/options';
import type { FakeScript } from './fixtures/fake-bridge';

export const fakeBridgePath = join(__dirname, 'fixtures', 'fake-bridge.js');

/** The real bridge: MORVANE_BRIDGE, or build/bin/morvane-bridge of this repository. */
export const realBridgePath =
  process.env.MORVANE_BRIDGE ??
  resolve(__dirname, '..', '..', '..', 'build', 'bin', process.platform === 'win32' ? 'morvane-bridge.exe' : 'morvane-bridge');
/** Why the suites of the real bridge are skipped, or false when it is there. */
export const realBridgeSkip = existsSync(realBridgePath)
  ? false
  : `no bridge at ${realBridgePath}; build it with CMake or point MORVANE_BRIDGE at one`;

const started = new Set<MorvaneBridge>();
// A failed test must not leave a bridge running, or the test process never ends.
after(() => Promise.all([...started].map((bridge) => bridge.close())));

/** Starts the scripted stand-in for the bridge through the package. */
export async function startFakeBridge(
  script: FakeScript,
  options: Partial<StartBridgeOptions> = {},
): Promise<MorvaneBridge> {
  const bridge = await startBridge({
    executable: process.execPath,
    args: [fakeBridgePath],
    ...options,
    env: { FAKE_BRIDGE_SCRIPT: JSON.stringify(script), ...options.env },
    timeouts: { requestMs: 5_000, closeMs: 2_000, ...options.timeouts },
  });
  started.add(bridge);
  return bridge;
}

/** Resolves with the arguments of the first event that passes the test. */
export function nextEvent<E extends keyof BridgeEvents>(
  bridge: MorvaneBridge,
  event: E,
  test: (...args: BridgeEvents[E]) => boolean = () => true,
  timeoutMs = 5_000,
): Promise<BridgeEvents[E]> {
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => {
      bridge.off(event, listener as never);
      reject(new Error(`no "${event}" event within ${timeoutMs} ms`));
    }, timeoutMs);
    const listener = (...args: BridgeEvents[E]) => {
      if (!test(...args)) return;
      clearTimeout(timer);
      bridge.off(event, listener as never);
      resolve(args);
    };
    // Node's typings resolve a listener's type only for a known event, not for a generic one.
    bridge.on(event, listener as never);
  });
}

/** Collects the arguments of every emitted event of one kind. */
export function collect<E extends keyof BridgeEvents>(
  bridge: MorvaneBridge,
  event: E,
): BridgeEvents[E][] {
  const seen: BridgeEvents[E][] = [];
  bridge.on(event, ((...args: BridgeEvents[E]) => seen.push(args)) as never);
  return seen;
}

export type Handler = (request: IncomingMessage, response: ServerResponse) => void;

/** A local HTTP server on 127.0.0.1 with its base URL. */
export async function startHttpServer(handler: Handler): Promise<{ server: Server; url: string }> {
  const server = createServer(handler);
  server.listen(0, '127.0.0.1');
  await once(server, 'listening');
  const { port } = server.address() as AddressInfo;
  return { server, url: `http://127.0.0.1:${port}` };
}

export async function stopHttpServer(server: Server): Promise<void> {
  server.closeAllConnections();
  await new Promise<void>((resolve) => server.close(() => resolve()));
}

/** An unused local port: connecting to it is refused. */
export async function refusedUrl(): Promise<string> {
  const { server, url } = await startHttpServer(() => undefined);
  await stopHttpServer(server);
  return url;
}

export function readBody(request: IncomingMessage): Promise<string> {
  return new Promise((resolve, reject) => {
    const chunks: Buffer[] = [];
    request.on('data', (chunk: Buffer) => chunks.push(chunk));
    request.on('end', () => resolve(Buffer.concat(chunks).toString('utf8')));
    request.on('error', reject);
  });
}

export function delay(ms: number): Promise<void> {
  return new Promise((resolve) => setTimeout(resolve, ms));
}

/** Polls until the check passes or the time is up. */
/** Whether a process of that id runs (and this one may signal it). */
export function isRunning(pid: number): boolean {
  try {
    process.kill(pid, 0);
    return true;
  } catch {
    return false;
  }
}

export async function eventually(check: () => boolean | Promise<boolean>, timeoutMs = 5_000) {
  const end = Date.now() + timeoutMs;
  while (!(await check())) {
    if (Date.now() > end) throw new Error('condition not met in time');
    await delay(20);
  }
}

/** A connected pair of sockets over loopback: `near` plays the host's end, `far` the bridge's. */
export async function socketPair(): Promise<{ server: NetServer; near: Socket; far: Socket }> {
  const server = createNetServer();
  server.listen(0, '127.0.0.1');
  await once(server, 'listening');
  const accepted = once(server, 'connection');
  const near = connect((server.address() as AddressInfo).port, '127.0.0.1');
  const [far] = (await accepted) as [Socket];
  await once(near, 'connect');
  return { server, near, far };
}
