// Shows a driver update's reports: a redrawn bar on a terminal, plain lines elsewhere.
import { UpdateState, type UpdateStatus } from '../src';

const phaseOfState: Record<number, string> = {
  [UpdateState.Download]: 'Downloading',
  [UpdateState.DownloadSuccess]: 'Downloaded',
  [UpdateState.Unzip]: 'Unpacking',
  [UpdateState.UnzipSuccess]: 'Unpacked',
  [UpdateState.Install]: 'Installing',
  [UpdateState.InstallSuccess]: 'Installed',
  [UpdateState.Finish]: 'Finished',
};

// "Downloaded", "Unpacked", "Installed" complete the line of their phase.
const phaseEnds: ReadonlySet<number> = new Set([
  UpdateState.DownloadSuccess,
  UpdateState.UnzipSuccess,
  UpdateState.InstallSuccess,
]);

export interface ProgressView {
  show(status: UpdateStatus): void;
  /** Ends the display, leaving the cursor on a fresh line. */
  end(): void;
}

export function bar(percent: number, width = 30): string {
  const clamped = Math.max(0, Math.min(100, percent));
  const filled = Math.round((clamped / 100) * width);
  return `[${'#'.repeat(filled)}${'-'.repeat(width - filled)}] ${String(Math.round(clamped)).padStart(3)}%`;
}

function phase(status: UpdateStatus): string {
  return phaseOfState[status.state] ?? status.stateString;
}

/** One line redrawn in place; a new line when the phase changes. */
export function terminalView(out: NodeJS.WriteStream): ProgressView {
  let current: string | undefined;
  return {
    show(status) {
      const name = phase(status);
      if (phaseEnds.has(status.state) && current !== undefined) {
        out.write(`\r  ${current.padEnd(12)} ${bar(100)}\n`);
        current = undefined;
        return;
      }
      if (status.state === UpdateState.Finish) return;
      if (current !== undefined && current !== name) out.write('\n');
      current = name;
      out.write(`\r  ${name.padEnd(12)} ${bar(status.progress)}`);
    },
    end() {
      if (current !== undefined) out.write('\n');
      current = undefined;
    },
  };
}

/** A line per phase change and per tenth of the download, for logs and pipes. */
export function lineView(out: NodeJS.WritableStream): ProgressView {
  let lastState = -1;
  let lastTenth = -1;
  return {
    show(status) {
      const tenth = Math.floor(status.progress / 10);
      if (status.state === lastState && tenth === lastTenth) return;
      lastState = status.state;
      lastTenth = tenth;
      out.write(`  ${phase(status).padEnd(12)} ${String(status.progress).padStart(3)}%\n`);
    },
    end() {},
  };
}
