// Puts the page together in OUT: the static files as they are, and the
// worker's source (the WebAssembly core, its reader and the worker) as one
// string in worker-source.js, which the page loads with a <script> tag and
// turns into a Blob: a worker from a file:// address is refused, one from a
// Blob is not, and nothing is fetched.
//   node web/bundle.mjs CORE_JS OUT
import { readFileSync, writeFileSync, mkdirSync, copyFileSync } from "node:fs";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

const [core, out] = process.argv.slice(2);
if (!core || !out) {
  console.error("usage: node web/bundle.mjs CORE_JS OUT");
  process.exit(2);
}
const web = dirname(fileURLToPath(import.meta.url));
mkdirSync(out, { recursive: true });
for (const file of ["index.html", "app.js", "style.css"]) copyFileSync(join(web, file), join(out, file));
// Inside its own scope the core sees no fetch, so it decodes the module
// it carries instead of fetching its own data: address.
const wrapped = `var createMirtleCore = (function () {\nvar fetch;\n${readFileSync(core, "utf8")}\n;return createMirtleCore;\n})();`;
const source = [wrapped, readFileSync(join(web, "mirtle.js"), "utf8"), readFileSync(join(web, "worker.js"), "utf8")].join("\n;\n");
writeFileSync(join(out, "worker-source.js"), `"use strict";\nvar MIRTLE_WORKER_SOURCE = ${JSON.stringify(source)};\n`);
