// The WebAssembly reader (web/mirtle.js over build/wasm) in Node.js, against
// the command-line tool on many generated statements and on damaged copies
// of them: the same JSON and CSV bytes, the same error at the same line,
// the same balance findings.
import { describe, test, before } from "node:test";
import assert from "node:assert/strict";
import { execFileSync, spawnSync } from "node:child_process";
import { mkdirSync, readFileSync, writeFileSync } from "node:fs";
import { createRequire } from "node:module";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";

const require = createRequire(import.meta.url);
const root = resolve(dirname(fileURLToPath(import.meta.url)), "../..");
const cli = process.env.MIRTLE_CLI || join(root, "build/host/cli/mirtle");
const data = join(root, "build/web-test/module");
const { MirtleReader } = require(join(root, "web/mirtle.js"));
const createMirtleCore = require(join(root, "build/wasm/web/mirtle_core.js"));

let reader;
before(async () => {
  mkdirSync(data, { recursive: true });
  reader = await MirtleReader.create(createMirtleCore);
});

const tool = (...args) => spawnSync(cli, args, { maxBuffer: 1 << 30 });

function generate(name, args) {
  const file = join(data, name);
  execFileSync("python3", [join(root, "bench/gen_statement.py"), ...args, "-o", file]);
  return file;
}

// A small deterministic generator, so that a failure names its case.
function random(seed) {
  let x = seed >>> 0 || 1;
  return (n) => {
    x ^= x << 13; x >>>= 0; x ^= x >>> 17; x ^= x << 5; x >>>= 0;
    return x % n;
  };
}

// Damaged copies of `bytes`: lines dropped, repeated, swapped or garbled,
// the text cut anywhere.
function damaged(bytes, seed) {
  const pick = random(seed);
  const lines = bytes.toString("latin1").split("\n");
  const at = pick(lines.length);
  const copy = [...lines];
  switch (seed % 6) {
    case 0: copy.splice(at, 1); break;
    case 1: copy.splice(at, 0, copy[at]); break;
    case 2: copy.splice(at, 0, "garbage"); break;
    case 3: copy[at] = copy[at].replace("=", ""); break;
    case 4: [copy[at], copy[(at + 1) % copy.length]] = [copy[(at + 1) % copy.length], copy[at]]; break;
    case 5: return bytes.subarray(0, pick(bytes.length));
  }
  return Buffer.from(copy.join("\n"), "latin1");
}

function compareWithTool(file) {
  const bytes = readFileSync(file);
  const opened = reader.open(bytes);
  const run = tool("json", file);
  if (run.status !== 0) {
    const match = /^.*?:(?:(\d+):)? error: (.*)\n/.exec(run.stderr.toString());
    assert.ok(match, run.stderr.toString());
    assert.ok(opened.error, "the reader read what the tool refused");
    assert.equal(opened.error.line, match[1] ? Number(match[1]) : null);
    assert.equal(opened.error.message, match[2]);
    return null;
  }
  assert.ifError(opened.error && opened.error.message);
  assert.deepEqual(opened.statement, JSON.parse(run.stdout.toString()));
  const all = opened.statement.documents.map((_, i) => i);
  assert.deepEqual(Buffer.from(reader.json(all)), run.stdout);
  assert.deepEqual(Buffer.from(reader.csv(all)), tool("csv", file).stdout);
  assert.deepEqual(Buffer.from(reader.csv(all, true)), tool("csv", "--excel", file).stdout);
  return opened;
}

// The tool's balance findings as [line, what], sorted.
function toolFindings(file) {
  const found = [];
  for (const m of tool("check", "--balances", file).stdout.toString().matchAll(/^.*?:(\d+): (?:error|warning): (.*)$/gm)) {
    const what = /not КонечныйОстаток/.test(m[2]) ? "arithmetic" : /previous period/.test(m[2]) ? "continuity"
      : /ВсегоПоступило/.test(m[2]) ? "income" : /ВсегоСписано/.test(m[2]) ? "expense" : null;
    if (what) found.push([Number(m[1]), what]);
  }
  return found.sort();
}

function readerFindings(balances) {
  const found = [];
  for (const r of balances) {
    if (r.arithmetic_ok === false) found.push([r.line, "arithmetic"]);
    if (r.continuity_ok === false) found.push([r.line, "continuity"]);
    if (r.income_difference !== null && Number(r.income_difference) !== 0) found.push([r.line, "income"]);
    if (r.expense_difference !== null && Number(r.expense_difference) !== 0) found.push([r.line, "expense"]);
  }
  return found.sort();
}

const statements = [
  ["sample-utf8", null, join(root, "examples/statement_utf8.txt")],
  ["sample-cp1251", null, join(root, "examples/statement_cp1251.txt")],
  ["utf8", ["--documents", "300", "--seed", "1", "--encoding", "utf-8"]],
  ["cp1251-crlf", ["--documents", "300", "--seed", "2", "--encoding", "cp1251"]],
  ["cp1251-lf", ["--documents", "200", "--seed", "3", "--encoding", "cp1251", "--newline", "lf"]],
  ["utf8-crlf-many-accounts", ["--documents", "250", "--seed", "4", "--encoding", "utf-8", "--newline", "crlf", "--accounts", "5", "--periods", "3"]],
  ["one-account-no-warnings", ["--documents", "150", "--seed", "5", "--accounts", "1", "--no-warnings"]],
  ["five-megabytes", ["--size", "5MB", "--seed", "6", "--encoding", "cp1251"]],
];

describe("the reader against the tool", () => {
  for (const [name, args, given] of statements) {
    test(name, async (t) => {
      const file = given || generate(`${name}.txt`, args);
      const opened = compareWithTool(file);
      assert.deepEqual(readerFindings(opened.balances), toolFindings(file));
      assert.equal(opened.documentLines.length, opened.statement.documents.length);
      // A document's section is the one that closes at its line.
      for (const i of [0, opened.documentLines.length - 1]) {
        const section = reader.section(i);
        assert.equal(section.sections.length, 1);
        assert.equal(section.sections[0].end_line, opened.documentLines[i]);
      }
      if (given) return;
      await t.test("damaged copies", () => {
        const bytes = readFileSync(file);
        for (let seed = 1; seed <= 24; ++seed) {
          const copy = join(data, `${name}-damaged-${seed}.txt`);
          writeFileSync(copy, damaged(bytes, seed * 7919 + name.length));
          compareWithTool(copy);
        }
      });
    });
  }
});

test("a read asked for two threads falls back to one here, with the same result", () => {
  const run = spawnSync(process.execPath, [join(root, "build/wasm/web/mirtle_wasm_two_parts.js")]);
  assert.equal(run.status, 0, run.stderr.toString());
  assert.equal(run.stdout.toString(), "sound same\ndamaged same\n");
});
