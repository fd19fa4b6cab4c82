import { spawn, type ChildProcess } from 'node:child_process';
import { createServer, type Server, type Socket } from 'node:net';
import { MorvaneBridge } from './bridge';
import { BridgeExitError, MorvaneBridgeError } from './errors';
import { guardUntilExit, type ExitGuard } from './exit-guard';
import { logTo } from './logger';
import { checkedOutputTailBytes, resolveOptions, type ResolvedOptions, type StartBridgeOptions } from './options';
import { OutputTail } from './output-tail';
import { limitTimer } from './time-limits';
import { removeStaleFiles } from './services/stale-partials';
import { createPipeLocation, removePipeLocation, type PipeLocation } from './pipe-location';

/**
 * Starts the bridge: makes a private pipe, starts the executable with the pipe's path in
 * MORVANE_PIPE, and accepts its one connection. Rejects when the bridge cannot be started,
 * exits, or does not connect in time.
 */
export async function startBridge(options: StartBridgeOptions): Promise<MorvaneBridge> {
  const resolved = resolveOptions(options);
  const outputTailBytes = checkedOutputTailBytes(options.outputTailBytes);
  await removeStaleFiles(resolved.downloadDirs, resolved.logger);
  const launch = (signal?: AbortSignal) => launchBridge(options, resolved, outputTailBytes, signal);
  return new MorvaneBridge(await launch(), resolved, launch);
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
 * Makes a private pipe, starts the executable with the pipe's path in MORVANE_PIPE, and accepts
 * its one connection. Called again for every restart. An abort kills the process and rejects.
 */
async function launchBridge(
  options: StartBridgeOptions,
  resolved: ResolvedOptions,
  outputTailBytes: number,
  signal?: AbortSignal,
): Promise<LaunchedBridge> {
  signal?.throwIfAborted();
  const location = await createPipeLocation();
  const server = createServer();
  try {
    await listen(server, location.path);
  } catch (error) {
    await removePipeLocation(location);
    throw new MorvaneBridgeError(`cannot listen on ${location.path}`, { cause: error });
  }

  const output = new OutputTail(outputTailBytes);
  let child: ChildProcess | undefined;
  let guard: ExitGuard | undefined;
  try {
    child = spawn(options.executable, options.args ?? [], {
      cwd: options.cwd,
      env: { ...process.env, ...options.env, MORVANE_PIPE: location.path },
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
    const socket = await acceptBridge(server, child, output, options.executable, resolved.timeouts.connectMs, signal);
    // Nothing is read until the caller has had a chance to add its listeners.
    socket.pause();
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

/** Waits for the child's connection; later connections are turned away. */
function acceptBridge(
  server: Server,
  child: ChildProcess,
  output: OutputTail,
  executable: string,
  timeoutMs: number,
  signal?: AbortSignal,
): Promise<Socket> {
  return new Promise((resolve, reject) => {
    let accepted = false;
    const stop = () => {
      clearTimeout(timer);
      child.off('error', onSpawnError);
      child.off('exit', onExit);
      signal?.removeEventListener('abort', onAbort);
    };
    server.on('connection', (socket) => {
      if (accepted) {
        socket.destroy();
        return;
      }
      accepted = true;
      stop();
      server.close();
      resolve(socket);
    });
    server.on('error', (error) => {
      stop();
      reject(new MorvaneBridgeError('the pipe failed before the bridge connected', { cause: error }));
    });
    const onSpawnError = (error: Error) => {
      stop();
      reject(new MorvaneBridgeError(`cannot start ${executable}: ${error.message}`, { cause: error }));
    };
    const onExit = () => {
      stop();
      // Take the output tail only once the process's pipes are drained.
      const finish = () =>
        reject(
          new BridgeExitError(
            { code: child.exitCode, signal: child.signalCode, output: output.text() },
            'starting the bridge',
          ),
        );
      const settle = setTimeout(finish, 500);
      child.once('close', () => {
        clearTimeout(settle);
        finish();
      });
    };
    const timer = limitTimer(timeoutMs, () => {
      stop();
      reject(new MorvaneBridgeError(`the bridge did not connect within ${timeoutMs} ms`));
    });
    const onAbort = () => {
      stop();
      reject(new MorvaneBridgeError('the start of the bridge was abandoned', { cause: signal!.reason }));
    };
    child.once('error', onSpawnError);
    child.once('exit', onExit);
    signal?.addEventListener('abort', onAbort, { once: true });
    if (signal?.aborted) onAbort();
  });
}
