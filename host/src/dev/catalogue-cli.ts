#!/usr/bin/env node
// morvane-dev-catalogue: a local driver download site for the simulated driver library, for
// development. Prints the catalogue's URL (give it to init as sdkConfigUrl) and serves until
// stopped with Ctrl-C.
import { startCatalogueServer } from './catalogue-server';

async function main(): Promise<void> {
  const site = await startCatalogueServer();
  process.stdout.write(`${site.catalogueUrl}\n`);
  const stop = () => {
    void site.close().then(() => process.exit(0));
  };
  process.once('SIGINT', stop);
  process.once('SIGTERM', stop);
}

main().catch((error: unknown) => {
  process.stderr.write(`morvane-dev-catalogue: ${String(error)}\n`);
  process.exit(1);
});
