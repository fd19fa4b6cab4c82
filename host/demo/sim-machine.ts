// A machine file for the simulated library (MORVANE_SIM_MACHINE): its default machine, with
// faults of your choice. The library reads it at every init.
import { writeFileSync } from 'node:fs';

export interface SimFaults {
  stepDelayMs?: number;
  crashDuringUpdate?: 'download' | 'unzip' | 'install';
  hangDuringUpdate?: 'download' | 'unzip' | 'install';
  crashInCall?: string;
  hangInCall?: string;
}

const defaultAdapters = [
  { name: 'Simulated Display Adapter A', vendorId: '10DE', deviceId: '2484', driverVersion: '31.0.15.1000', driverDate: '2023-01-10', vendorType: 1 },
  { name: 'Simulated Display Adapter B', vendorId: '1002', deviceId: '73BF', driverVersion: '31.0.12029.10015', driverDate: '2023-03-01', vendorType: 2 },
  { name: 'Simulated Display Adapter C', vendorId: '8086', deviceId: '9A49', driverVersion: '30.0.101.1404', driverDate: '2022-02-15', vendorType: 3 },
];

/** Writes the default machine with these faults to `path`; synchronous, so a `crash` listener can change the machine before the restart. */
export function writeSimMachine(path: string, faults: SimFaults = {}): void {
  writeFileSync(path, JSON.stringify({ adapters: defaultAdapters, faults }, null, 2));
}
