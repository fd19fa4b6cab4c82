import { EventEmitter } from 'node:events';

/**
 * An EventEmitter whose emit never throws: a listener that throws is handed to listenerFailed
 * and the other listeners still run. Events are emitted from socket handlers and background
 * work, where a throw would become an uncaught exception or an unhandled rejection that ends the
 * host process.
 */
// eslint-disable-next-line @typescript-eslint/no-explicit-any
export abstract class SafeEmitter<Events extends Record<keyof Events, any[]>> extends EventEmitter<Events> {
  protected abstract listenerFailed(event: string | symbol, error: unknown): void;

  // Typed for callers by EventEmitter<Events>; the body works on any event.
  // eslint-disable-next-line @typescript-eslint/no-explicit-any
  override emit(event: any, ...args: any[]): boolean {
    // rawListeners keeps once() wrappers, which remove themselves when called.
    const listeners = (this as EventEmitter).rawListeners(event);
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
