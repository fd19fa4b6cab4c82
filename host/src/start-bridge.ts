import { spawn, type ChildProcess } from 'node:child_process';
import { createServer, type Server, type Socket } from 'node:net';
import { MorvaneBridge } from './bridge';
import { BridgeExitError, MorvaneBridgeError } from './errors';
import { guardUntilExit, type ExitGuard } from './exit-guard';
import { logTo } from './logger';
import { childEnvironment } from './child-environment';
import { resolveOptions, type ResolvedOptions, type StartBridgeOptions } from './options';
import { OutputTail } from './output-tail';
import { awaitHello, helloLine, newPipeSecret, pipeSecretVariable } from './pipe-handshake';
import { limitTimer } from './time-limits';
import { removeStaleFiles } from './services/stale-partials';
import { createPipeLocation, removePipeLocation, type PipeLocation } from './pipe-location';

/**
 * Starts the bridge: makes a private pipe, starts the executable with the pipe's path in
 * MORVANE_PIPE and a fresh secret in MORVANE_PIPE_SECRET, and accepts the one connection whose
 * first line presents that secret. Rejects when an option is wrong (a TypeError, before anything
 * starts), when the bridge cannot be started, exits, or does not connect in time, and when
 * `options.signal` aborts first. Once it has resolved, the signal has no further effect.
 */
export async function startBridge(options: StartBridgeOptions): Promise<MorvaneBridge> {
  const resolved = resolveOptions(options);
  const signal = options.signal;
  signal?.throwIfAborted();
  await removeStaleFiles(resolved.downloadDirs, resolved.logger);
  const launch = (abort?: AbortSignal) => launchBridge(options, resolved, abort);
  return new MorvaneBridge(await launch(signal), resolved, launch);
}

/** A started bridge process, connected to its pipe. */
export interface LaunchedBridge {
  child: ChildProcess;
  /** Paused: nothing is read until the owner resumes it. */
  socket: Socket;
  output: OutputTail;
  guard: ExitGuard;
}

/**
 * Makes a private pipe, starts the executable with the pipe's path and a fresh secret, and
 * accepts the connection that presents it. Called again for every restart. An abort kills the
 * process and rejects with the signal's reason once the process has ended.
 */
async function launchBridge(
  options: StartBridgeOptions,
  resolved: ResolvedOptions,
  signal?: AbortSignal,
): Promise<LaunchedBridge> {
  signal?.throwIfAborted();
  const location = await createPipeLocation();
  const server = createServer();
  try {
    signal?.throwIfAborted();
    await listen(server, location.path);
  } catch (error) {
    await closeAndRemove(server, location);
    if (signal?.aborted) throw signal.reason;
    throw new MorvaneBridgeError(`cannot listen on ${location.path}`, { cause: error });
  }

  const output = new OutputTail(resolved.outputTailBytes);
  const secret = newPipeSecret();
  let child: ChildProcess | undefined;
  let guard: ExitGuard | undefined;
  try {
    signal?.throwIfAborted();
    child = spawn(options.executable, options.args ?? [], {
      cwd: options.cwd,
      env: childEnvironment(options, { MORVANE_PIPE: location.path, [pipeSecretVariable]: secret }),
      stdio: ['ignore', 'pipe', 'pipe'],
      windowsHide: true,
    });
    const folder = location.folder;
    guard = guardUntilExit(child, () => (folder === undefined ? [] : [folder]));
    child.on('error', (error) => logTo(resolved.logger, 'warn', `bridge process: ${error.message}`));
    for (const stream of [child.stdout!, child.stderr!]) {
      stream.on('data', (chunk: Buffer) => {
        output.append(chunk);
        logTo(resolved.logger, 'debug', `bridge output: ${chunk.toString('utf8').trimEnd()}`);
      });
    }
    const socket = await acceptBridge(server, child, {
      hello: helloLine(secret),
      output,
      executable: options.executable,
      timeoutMs: resolved.timeouts.connectMs,
      signal,
    });
    await closeAndRemove(server, location);
    return { child, socket, output, guard };
  } catch (error) {
    if (child !== undefined && child.exitCode === null && child.signalCode === null) {
      const exited = new Promise((resolve) => child!.once('exit', resolve));
      child.kill('SIGKILL');
      // An abandoned start leaves no process behind once it has rejected.
      if (signal?.aborted) await exited;
    }
    await closeAndRemove(server, location);
    guard?.release();
    throw error;
  }
}

async function closeAndRemove(server: Server, location: PipeLocation): Promise<void> {
  if (server.listening) server.close();
  await removePipeLocation(location);
}

function listen(server: Server, path: string): Promise<void> {
  return new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(path, () => {
      server.off('error', reject);
      resolve();
    });
  });
}

interface AcceptOptions {
  /** The line the child must send first. */
  hello: Buffer;
  output: OutputTail;
  executable: string;
  timeoutMs: number;
  signal?: AbortSignal;
}

/**
 * Waits for the child's connection: the first one to present the hello line. Any process may
 * connect to the pipe, so every connection is heard out, and none is written to before its
 * hello has matched; once one has, every other is closed. The accepted socket is paused, so
 * nothing is read until the caller has had a chance to add its listeners.
 */
function acceptBridge(server: Server, child: ChildProcess, options: AcceptOptions): Promise<Socket> {
  const { hello, output, executable, timeoutMs, signal } = options;
  return new Promise((resolve, reject) => {
    let settled = false;
    const waiting = new Set<Socket>();
    const settle = () => {
      settled = true;
      clearTimeout(timer);
      child.off('error', onSpawnError);
      child.off('exit', onExit);
      signal?.removeEventListener('abort', onAbort);
      for (const socket of waiting) socket.destroy();
      waiting.clear();
    };
    server.on('connection', (socket) => {
      if (settled) {
        socket.destroy();
        return;
      }
      waiting.add(socket);
      void awaitHello(socket, hello).then((matched) => {
        waiting.delete(socket);
        if (!matched) return;
        if (settled) {
          socket.destroy();
          return;
        }
        settle();
        server.close();
        resolve(socket);
      });
    });
    server.on('error', (error) => {
      settle();
      reject(new MorvaneBridgeError('the pipe failed before the bridge connected', { cause: error }));
    });
    const onSpawnError = (error: Error) => {
      settle();
      reject(new MorvaneBridgeError(`cannot start ${executable}: ${error.message}`, { cause: error }));
    };
    const onExit = () => {
      settle();
      // Take the output tail only once the process's pipes are drained.
      const finish = () =>
        reject(
          new BridgeExitError(
            { code: child.exitCode, signal: child.signalCode, output: output.text() },
            'starting the bridge',
          ),
        );
      const drained = setTimeout(finish, 500);
      child.once('close', () => {
        clearTimeout(drained);
        finish();
      });
    };
    const onAbort = () => {
      settle();
      reject(signal!.reason);
    };
    const timer = limitTimer(timeoutMs, () => {
      settle();
      reject(new MorvaneBridgeError(`the bridge did not connect within ${timeoutMs} ms`));
    });
    child.once('error', onSpawnError);
    child.once('exit', onExit);
    signal?.addEventListener('abort', onAbort, { once: true });
  });
}
