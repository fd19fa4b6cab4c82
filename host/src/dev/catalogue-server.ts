// A local driver download site for the simulated machine: one catalogue and the driver packages
// it lists, served on 127.0.0.1.
import { createHash, randomBytes } from 'node:crypto';
import { once } from 'node:events';
import { createServer, type Server, type ServerResponse } from 'node:http';
import type { AddressInfo } from 'node:net';

export interface DriverRelease {
  vendorId: string;
  deviceId: string;
  name: string;
  version: string;
  date: string;
  /** Size of the package's payload; 2 MiB when left out. */
  payloadBytes?: number;
  /**
   * Spoils the package, for tests: 'bytes' serves a package whose bytes differ from what the
   * catalogue describes; 'format' describes and serves a file that is not a package at all;
   * 'missing' lists the package but answers its URL with 404.
   */
  fault?: 'bytes' | 'format' | 'missing';
}

/** What the catalogue says about one package. */
export interface CatalogueEntry {
  vendorId: string;
  deviceId: string;
  name: string;
  version: string;
  date: string;
  url: string;
  fileSize: number;
  md5: string;
}

/** The releases that fit the simulated library's default machine. */
export const defaultReleases: readonly DriverRelease[] = [
  // Newer than what adapter A has installed (31.0.15.1000): an update.
  {
    vendorId: '10DE',
    deviceId: '2484',
    name: 'Simulated Adapter Driver 31.0.15.3623',
    version: '31.0.15.3623',
    date: '2023-06-14',
  },
  // The very version adapter B has: already current.
  {
    vendorId: '1002',
    deviceId: '73BF',
    name: 'Simulated Adapter Driver 31.0.12029.10015',
    version: '31.0.12029.10015',
    date: '2023-03-01',
  },
];

export interface CatalogueServerOptions {
  releases?: readonly DriverRelease[];
  /** Speed at which packages are sent; as fast as possible when left out. */
  bytesPerSecond?: number;
}

export interface CatalogueServer {
  baseUrl: string;
  catalogueUrl: string;
  entries: CatalogueEntry[];
  /** Paths requested so far, in order. */
  requests: string[];
  close(): Promise<void>;
}

/** A package file: a header line, the manifest line, then the payload. */
export function buildPackage(release: DriverRelease, payload: Buffer): Buffer {
  const manifest = {
    vendorId: release.vendorId,
    deviceId: release.deviceId,
    name: release.name,
    version: release.version,
    date: release.date,
  };
  return Buffer.concat([
    Buffer.from(`MORVANE-DRIVER-PACKAGE 1\n${JSON.stringify(manifest)}\n`, 'utf8'),
    payload,
  ]);
}

export function packageFileName(release: DriverRelease): string {
  return `${release.vendorId}-${release.deviceId}-${release.version}.mvpkg`.toLowerCase();
}

function md5(bytes: Buffer): string {
  return createHash('md5').update(bytes).digest('hex');
}

interface Served {
  /** The bytes the catalogue's size and MD5 describe. */
  described: Buffer;
  /** The bytes actually sent. */
  sent: Buffer;
}

function preparePackage(release: DriverRelease): Served {
  const genuine = buildPackage(release, randomBytes(release.payloadBytes ?? 2 * 1024 * 1024));
  switch (release.fault) {
    case 'bytes': {
      const sent = Buffer.from(genuine);
      sent[sent.length - 1] ^= 0xff;
      return { described: genuine, sent };
    }
    case 'format': {
      const notAPackage = Buffer.from('PK\u0003\u0004 this is some other archive\n', 'latin1');
      return { described: notAPackage, sent: notAPackage };
    }
    default:
      return { described: genuine, sent: genuine };
  }
}

export async function startCatalogueServer(
  options: CatalogueServerOptions = {},
): Promise<CatalogueServer> {
  const releases = options.releases ?? defaultReleases;
  const packages = new Map<string, Served>();
  const served = new Map<string, Served>();
  for (const release of releases) {
    const path = `/packages/${packageFileName(release)}`;
    packages.set(path, preparePackage(release));
    if (release.fault !== 'missing') served.set(path, packages.get(path)!);
  }
  const requests: string[] = [];
  let catalogueBody = '';

  const server: Server = createServer((request, response) => {
    const path = (request.url ?? '/').split('?')[0];
    requests.push(path);
    if (request.method !== 'GET') {
      response.writeHead(405, { allow: 'GET' }).end();
    } else if (path === '/catalogue.json') {
      response.writeHead(200, { 'content-type': 'application/json' }).end(catalogueBody);
    } else if (served.has(path)) {
      void sendPackage(response, served.get(path)!.sent, options.bytesPerSecond);
    } else {
      response.writeHead(404, { 'content-type': 'text/plain' }).end('not found\n');
    }
  });
  server.listen(0, '127.0.0.1');
  await once(server, 'listening');
  const { port } = server.address() as AddressInfo;
  const baseUrl = `http://127.0.0.1:${port}`;

  const entries = releases.map((release): CatalogueEntry => {
    const { described } = packages.get(`/packages/${packageFileName(release)}`)!;
    return {
      vendorId: release.vendorId,
      deviceId: release.deviceId,
      name: release.name,
      version: release.version,
      date: release.date,
      url: `${baseUrl}/packages/${packageFileName(release)}`,
      fileSize: described.length,
      md5: md5(described),
    };
  });
  catalogueBody = JSON.stringify({ drivers: entries }, null, 2);

  return {
    baseUrl,
    catalogueUrl: `${baseUrl}/catalogue.json`,
    entries,
    requests,
    close: async () => {
      server.closeAllConnections();
      await new Promise<void>((resolve) => server.close(() => resolve()));
    },
  };
}

async function sendPackage(response: ServerResponse, bytes: Buffer, bytesPerSecond?: number) {
  response.writeHead(200, {
    'content-type': 'application/octet-stream',
    'content-length': String(bytes.length),
  });
  const chunkSize = 64 * 1024;
  const pause = bytesPerSecond ? (chunkSize / bytesPerSecond) * 1000 : 0;
  for (let offset = 0; offset < bytes.length; offset += chunkSize) {
    if (response.destroyed) return;
    const flushed = response.write(bytes.subarray(offset, offset + chunkSize));
    if (pause > 0) await new Promise((resolve) => setTimeout(resolve, pause));
    else if (!flushed) await drainedOrClosed(response);
  }
  response.end();
}

function drainedOrClosed(response: ServerResponse): Promise<void> {
  return new Promise((resolve) => {
    const done = () => {
      response.off('drain', done);
      response.off('close', done);
      resolve();
    };
    response.on('drain', done);
    response.on('close', done);
  });
}
