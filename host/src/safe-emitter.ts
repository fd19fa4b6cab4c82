import { EventEmitter } from 'node:events';

/**
 * An EventEmitter whose emit never throws: a listener that throws is handed to listenerFailed
 * and the other listeners still run. Events are emitted from socket handlers and background
 * work, where a throw would become an uncaught exception or an unhandled rejection that ends the
 * host process.
 */
export abstract class SafeEmitter extends EventEmitter {
  protected abstract listenerFailed(event: string | symbol, error: unknown): void;

  override emit(event: string | symbol, ...args: unknown[]): boolean {
    // rawListeners keeps once() wrappers, which remove themselves when called.
    const listeners = this.rawListeners(event);
    for (const listener of listeners) {
      try {
        Reflect.apply(listener, this, args);
      } catch (error) {
        this.listenerFailed(event, error);
      }
    }
    return listeners.length > 0;
  }
}
