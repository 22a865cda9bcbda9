// The page in headless Chromium (the system's own), against the
// command-line tool: statements go in through the file input, and what the
// page shows and exports must be what `mirtle json` and `mirtle csv` say.
//   MIRTLE_CLI   the tool to compare with (default build/host/cli/mirtle)
//   MIRTLE_PAGE  the built page (default build/web)
//   MIRTLE_BIG   1 (default) to open a 50 MB statement too
// Screenshots and the generated statements go to build/web-test/.
import { after, before, describe, test } from "node:test";
import assert from "node:assert/strict";
import { execFileSync, spawnSync } from "node:child_process";
import { existsSync, mkdirSync, readFileSync, readdirSync, rmSync, writeFileSync } from "node:fs";
import { createServer } from "node:http";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath, pathToFileURL } from "node:url";
import puppeteer from "puppeteer-core";

const root = resolve(dirname(fileURLToPath(import.meta.url)), "../..");
const cli = process.env.MIRTLE_CLI || join(root, "build/host/cli/mirtle");
const site = resolve(process.env.MIRTLE_PAGE || join(root, "build/web"));
const out = join(root, "build/web-test");
const data = join(out, "statements");
const shots = join(out, "screenshots");
const big = process.env.MIRTLE_BIG !== "0";

let browser;

// --- what the tool says --------------------------------------------------------

function tool(...args) {
  return spawnSync(cli, args, { maxBuffer: 1 << 30 });
}

function cliJson(file) {
  const run = tool("json", file);
  assert.equal(run.status, 0, run.stderr.toString());
  return { text: run.stdout, value: JSON.parse(run.stdout.toString()) };
}

function cliCsv(file) {
  const run = tool("csv", file);
  assert.equal(run.status, 0, run.stderr.toString());
  return run.stdout;
}

// FILE:LINE: error: MESSAGE, or FILE: error: MESSAGE.
function cliError(file) {
  const run = tool("json", file);
  assert.equal(run.status, 1);
  const match = /^.*?:(?:(\d+):)? error: (.*)\n/.exec(run.stderr.toString());
  assert.ok(match, run.stderr.toString());
  return { line: match[1] ? Number(match[1]) : null, message: match[2] };
}

// The records of `mirtle csv`, each with its line break: quoted fields may
// hold CR LF of their own.
function csvRecords(bytes) {
  const text = bytes.toString("utf8");
  const records = [];
  let start = 0, quoted = false;
  for (let i = 0; i < text.length; ++i) {
    if (text[i] === '"') quoted = !quoted;
    else if (!quoted && text[i] === "\r" && text[i + 1] === "\n") {
      records.push(text.slice(start, i + 2));
      start = i + 2;
      ++i;
    }
  }
  assert.equal(start, text.length);
  return records;
}

// --- the expected view, from the tool's JSON ----------------------------------

function units(amount, scale) {
  const [whole, fraction = ""] = amount.replace(/^[-+]/, "").split(".");
  const value = BigInt(whole + fraction.padEnd(scale, "0"));
  return amount.startsWith("-") ? -value : value;
}

function scaleOf(amount) {
  const point = amount.indexOf(".");
  return point < 0 ? 0 : amount.length - point - 1;
}

function sum(amounts) {
  const scale = amounts.reduce((s, a) => Math.max(s, scaleOf(a)), 0);
  const total = amounts.reduce((s, a) => s + units(a, scale), 0n);
  const negative = total < 0n;
  let digits = (negative ? -total : total).toString().padStart(scale + 1, "0");
  if (scale) digits = digits.slice(0, -scale) + "." + digits.slice(-scale);
  return (negative ? "-" : "") + digits;
}

// Outgoing: paid from one of the statement's accounts; incoming: paid to one.
function directions(statement) {
  const own = new Set(Object.keys(statement.accounts));
  if (statement.header["РасчСчет"]) own.add(statement.header["РасчСчет"]);
  return statement.documents.map((d) => ({ out: own.has(d.counterparty_account), in: own.has(d.payee_account) }));
}

function expectedTotals(statement, picked) {
  const dirs = directions(statement);
  const incoming = picked.filter((i) => dirs[i].in), outgoing = picked.filter((i) => dirs[i].out);
  const amount = (i) => statement.documents[i].amount;
  return { count: String(picked.length), income: sum(incoming.map(amount)), expense: sum(outgoing.map(amount)) };
}

// --- statements ----------------------------------------------------------------

function generate(name, ...args) {
  const file = join(data, name);
  execFileSync("python3", [join(root, "bench/gen_statement.py"), ...args, "-o", file]);
  return file;
}

// A copy of `file` with its lines changed by `edit` (an array of lines in,
// one out), in the file's own bytes (windows-1251 files stay so).
function damage(name, file, edit) {
  const bytes = readFileSync(file);
  const lines = bytes.toString("latin1").split("\n");
  const target = join(data, name);
  writeFileSync(target, Buffer.from(edit(lines).join("\n"), "latin1"));
  return target;
}

const latin = (text) => Buffer.from(text, "utf8").toString("latin1");

// --- the page -----------------------------------------------------------------

async function openPage({ url = pathToFileURL(join(site, "index.html")).href, language = "en", width = 1280 } = {}) {
  const page = await browser.newPage();
  await page.setViewport({ width, height: 900 });
  const requests = [];
  page.on("request", (r) => requests.push(r.url()));
  await page.evaluateOnNewDocument((lang) => {
    Object.defineProperty(navigator, "languages", { get: () => [lang] });
    Object.defineProperty(navigator, "language", { get: () => lang });
  }, language);
  const problems = [];
  page.on("pageerror", (e) => problems.push(String(e)));
  page.on("console", (m) => { if (m.type() === "error") problems.push(m.text()); });
  await page.goto(url);
  return { page, requests, problems };
}

async function settled(page) {
  await page.waitForFunction(() => document.body.dataset.busy === "0" &&
    ["ready", "failed"].includes(document.getElementById("status").dataset.state), { timeout: 120000 });
}

async function load(page, file) {
  const input = await page.$("#file");
  await input.uploadFile(file);
  await settled(page);
}

async function rows(page) {
  return page.$$eval("#table-body tr[data-index]", (trs) => trs.map((tr) => {
    const row = { index: Number(tr.dataset.index) };
    for (const td of tr.cells) row[td.dataset.key] = td.textContent;
    return row;
  }));
}

async function totals(page) {
  return page.$eval("#totals", (p) => ({ count: p.dataset.count, income: p.dataset.income, expense: p.dataset.expense }));
}

async function afterInput(page) {
  await new Promise((r) => setTimeout(r, 300));
  await page.waitForFunction(() => document.body.dataset.busy === "0");
}

// Clicks an export button and returns the file it downloads.
async function download(page, button) {
  const folder = join(out, "downloads", String(Date.now()));
  mkdirSync(folder, { recursive: true });
  const cdp = await page.createCDPSession();
  await cdp.send("Browser.setDownloadBehavior", { behavior: "allow", downloadPath: folder, eventsEnabled: true });
  const done = new Promise((resolve) => cdp.on("Browser.downloadProgress", (e) => { if (e.state === "completed") resolve(); }));
  await page.click(button);
  await done;
  const [name] = readdirSync(folder);
  return readFileSync(join(folder, name));
}

async function shot(page, name, selector) {
  const target = selector ? await page.$(selector) : page;
  await target.screenshot({ path: join(shots, `${name}.png`), ...(selector ? {} : { fullPage: false }) });
}

function ownFiles(requests, origin) {
  const foreign = requests.filter((u) => !(u.startsWith(origin) || u.startsWith("blob:") || u.startsWith("data:")));
  assert.deepEqual(foreign, [], "requests outside the page's own files");
}

// --- tests ---------------------------------------------------------------------

before(async () => {
  assert.ok(existsSync(join(site, "index.html")), `no page at ${site}: run scripts/build-web`);
  assert.ok(existsSync(cli), `no tool at ${cli}`);
  rmSync(out, { recursive: true, force: true });
  for (const d of [data, shots]) mkdirSync(d, { recursive: true });
  browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    headless: true,
    args: [...(process.getuid && process.getuid() === 0 ? ["--no-sandbox"] : []), "--disable-gpu"],
  });
});

after(async () => {
  if (browser) await browser.close();
});

describe("statements that read", () => {
  const cases = () => [
    ["the UTF-8 sample", join(root, "examples/statement_utf8.txt")],
    ["the windows-1251 sample", join(root, "examples/statement_cp1251.txt")],
    ["generated, UTF-8, with warnings", generate("gen-utf8.txt", "--documents", "700", "--seed", "11", "--encoding", "utf-8")],
    ["generated, windows-1251, CR LF", generate("gen-cp1251.txt", "--documents", "450", "--seed", "12", "--encoding", "cp1251", "--accounts", "3", "--periods", "4")],
    ["generated, one account, no warnings", generate("gen-plain.txt", "--documents", "120", "--seed", "13", "--accounts", "1", "--no-warnings")],
  ];
  before(() => mkdirSync(data, { recursive: true }));

  test("each shows and exports what the tool gives", async (t) => {
    for (const [why, file] of cases()) {
      await t.test(why, async () => {
        const expected = cliJson(file).value;
        const { page, requests, problems } = await openPage();
        await load(page, file);
        assert.equal(await page.$eval("#status", (s) => s.dataset.state), "ready");
        assert.equal(await page.$eval('[data-fact="documents_count"]', (d) => d.textContent), String(expected.documents.length));
        assert.equal(await page.$eval('[data-fact="encoding"]', (d) => d.textContent), expected.encoding);
        assert.deepEqual(await page.$$eval("#warnings-list li[data-line]", (li) => li.map((l) => Number(l.dataset.line))),
          expected.warnings.map((w) => w.lineno));
        assert.deepEqual(await page.$$eval(".account", (a) => a.map((d) => d.dataset.account)), Object.keys(expected.accounts));
        const all = expected.documents.map((_, i) => i);
        assert.deepEqual(await totals(page), expectedTotals(expected, all));
        const shown = await rows(page);
        assert.deepEqual(shown.map((r) => [r.doc_number, r.doc_date, r.amount, r.purpose]),
          expected.documents.slice(0, 100).map((d) => [d.doc_number, d.doc_date, d.amount, d.purpose]));
        assert.deepEqual(await download(page, "#export-csv"), cliCsv(file));
        assert.deepEqual(await download(page, "#export-json"), cliJson(file).text);
        ownFiles(requests, pathToFileURL(site).href);
        assert.deepEqual(problems, []);
        await page.close();
      });
    }
  });

  test("balance checks as the statement states them", async () => {
    // The second period's opening differs from the first's closing, and
    // the first does not add up.
    const file = damage("balances.txt", join(root, "examples/statement_utf8.txt"), (lines) => {
      const i = lines.findIndex((l) => l.startsWith(latin("КонечныйОстаток=")));
      lines[i] = latin("КонечныйОстаток=1.00");
      return lines;
    });
    const { page } = await openPage();
    await load(page, file);
    const checks = await page.$$eval(".account tr[data-line]", (trs) => trs.map((tr) =>
      [Number(tr.dataset.line), tr.querySelector('[data-check="arithmetic"]').textContent.startsWith("✓"),
        tr.querySelector('[data-check="continuity"]').textContent]));
    const first = checks.find(([, ok]) => !ok);
    assert.ok(first, JSON.stringify(checks));
    assert.ok(checks.some(([, , continuity]) => continuity.startsWith("✗")), JSON.stringify(checks));
    await page.close();
  });
});

describe("sorting, filtering, the record", () => {
  let file, expected;
  before(() => {
    file = generate("sort.txt", "--documents", "900", "--seed", "21", "--accounts", "2");
    expected = cliJson(file).value;
  });

  test("sort by amount, both ways, and by date", async () => {
    const { page } = await openPage();
    await load(page, file);
    const byAmount = expected.documents.map((d, i) => i)
      .sort((a, b) => {
        const x = units(expected.documents[a].amount, 28), y = units(expected.documents[b].amount, 28);
        return x < y ? -1 : x > y ? 1 : a - b;
      });
    await page.click('button[data-sort="amount"]');
    await afterInput(page);
    assert.deepEqual((await rows(page)).map((r) => r.index), byAmount.slice(0, 100));
    await page.click('button[data-sort="amount"]');
    await afterInput(page);
    const descending = [...byAmount].sort((a, b) => {
      const x = units(expected.documents[a].amount, 28), y = units(expected.documents[b].amount, 28);
      return x < y ? 1 : x > y ? -1 : a - b;
    });
    assert.deepEqual((await rows(page)).map((r) => r.index), descending.slice(0, 100));
    // The download keeps the order shown.
    const csvAll = csvRecords(cliCsv(file));
    const csv = await download(page, "#export-csv");
    assert.equal(csv.toString("utf8"), [csvAll[0], ...descending.map((i) => csvAll[i + 1])].join(""));
    await page.click('button[data-sort="doc_date"]');
    await afterInput(page);
    const dates = (await rows(page)).map((r) => r.doc_date);
    assert.deepEqual(dates, [...expected.documents.map((d) => d.doc_date)].sort().slice(0, 100));
    await page.click("#page-next");
    await afterInput(page);
    assert.equal((await rows(page)).length, 100);
    await shot(page, "documents-sorted", "#documents");
    await page.close();
  });

  test("filters: text, dates and direction, with their totals and CSV", async (t) => {
    const dirs = directions(expected);
    const docs = expected.documents;
    const middle = [...docs.map((d) => d.doc_date)].sort()[Math.floor(docs.length / 2)];
    const needle = docs[5].counterparty_inn;
    const cases = [
      { why: "incoming", set: { direction: "in" }, keep: (d, i) => dirs[i].in },
      { why: "outgoing from the middle date", set: { direction: "out", from: middle }, keep: (d, i) => dirs[i].out && d.doc_date >= middle },
      { why: "up to the middle date", set: { to: middle }, keep: (d) => d.doc_date <= middle },
      { why: "an INN anywhere", set: { text: needle }, keep: (d) => Object.values(d).some((v) => v !== null && v.includes(needle)) },
      { why: "nothing", set: { text: "no such text anywhere" }, keep: () => false },
    ];
    const { page } = await openPage();
    await load(page, file);
    const csvAll = csvRecords(cliCsv(file));
    for (const c of cases) {
      await t.test(c.why, async () => {
        await page.evaluate((set) => {
          document.getElementById("filters").reset();
          const fields = { text: "filter-text", from: "filter-from", to: "filter-to", direction: "filter-direction" };
          for (const [key, value] of Object.entries(set)) document.getElementById(fields[key]).value = value;
          document.getElementById("filter-direction").dispatchEvent(new Event("change"));
        }, c.set);
        await afterInput(page);
        const picked = docs.map((d, i) => i).filter((i) => c.keep(docs[i], i));
        assert.deepEqual(await totals(page), expectedTotals(expected, picked));
        assert.deepEqual((await rows(page)).map((r) => r.index), picked.slice(0, 100));
        const csv = await download(page, "#export-csv");
        assert.equal(csv.toString("utf8"), [csvAll[0], ...picked.map((i) => csvAll[i + 1])].join(""));
      });
    }
    await page.close();
  });

  test("a document's whole record, the bank's own keys included", async () => {
    // Two keys no field knows, in the second document.
    const source = join(root, "examples/statement_utf8.txt");
    const file = damage("extra-keys.txt", source, (lines) => {
      const starts = lines.map((l, i) => (l.startsWith(latin("СекцияДокумент=")) ? i : -1)).filter((i) => i >= 0);
      lines.splice(starts[1] + 1, 0, latin("КодБанка=77"), latin("Примечание=сверено"));
      return lines;
    });
    const expected2 = cliJson(file).value;
    const { page } = await openPage();
    await load(page, file);
    await page.focus('#table-body tr[data-index="1"]');
    await page.keyboard.press("Enter");
    await page.waitForSelector("#record[open]");
    const fields = await page.$$eval("#record-table tr[data-field]", (trs) => trs.map((tr) => [tr.dataset.field, tr.cells[2].textContent]));
    const doc = expected2.documents[1];
    assert.equal(fields.length, 53);
    for (const [name, value] of fields) assert.equal(value, doc[name] ?? "absent", name);
    const extras = await page.$$eval("#record-table tr[data-extra]", (trs) => trs.map((tr) => [tr.dataset.extra, tr.cells[2].textContent, tr.cells[3].textContent]));
    const start = readFileSync(file, "utf8").split("\n").findIndex((l) => l.startsWith("КодБанка=")) + 1;
    assert.deepEqual(extras, [["КодБанка", "77", String(start)], ["Примечание", "сверено", String(start + 1)]]);
    await shot(page, "record", "#record");
    await page.keyboard.press("Escape");
    assert.equal(await page.$("#record[open]"), null);
    await page.close();
  });
});

describe("files that fail", () => {
  test("the error, its line and the line itself, as the tool reports them", async (t) => {
    const sample = join(root, "examples/statement_utf8.txt");
    const cp1251 = join(root, "examples/statement_cp1251.txt");
    const cases = [
      ["an unrecognized line", damage("bad-line.txt", sample, (l) => { l.splice(40, 0, latin("это не строка выписки")); return l; })],
      ["a windows-1251 file cut short", damage("cut.txt", cp1251, (l) => l.slice(0, 60))],
      ["a section that does not close", damage("unclosed.txt", sample, (l) => l.filter((x, i) => !(x.startsWith(latin("КонецРасчСчет")) && i < 40)))],
      ["a document without its number", damage("no-number.txt", sample, (l) => l.filter((x) => !x.startsWith(latin("Номер="))))],
      ["an opening balance that is no amount", damage("bad-amount.txt", sample, (l) => l.map((x) => (x.startsWith(latin("НачальныйОстаток=")) ? latin("НачальныйОстаток=12,5") : x)))],
      ["not a statement", damage("not-statement.txt", sample, (l) => l.slice(1))],
      ["an empty file", damage("empty.txt", sample, () => [""])],
    ];
    const { page, requests } = await openPage();
    for (const [why, file] of cases) {
      await t.test(why, async () => {
        await page.reload();
        await load(page, file);
        const run = tool("json", file);
        if (run.status === 0) {
          // The tool reads it with warnings: so must the page.
          assert.equal(await page.$eval("#status", (s) => s.dataset.state), "ready");
          return;
        }
        const { line, message } = cliError(file);
        assert.equal(await page.$eval("#status", (s) => s.dataset.state), "failed");
        assert.equal(await page.$eval("#failure-message", (s) => s.textContent), message);
        assert.equal(await page.$eval("#failure", (s) => s.dataset.line), line === null ? "" : String(line));
        if (line !== null) {
          const text = readFileSync(file);
          const decoded = new TextDecoder(file.includes("cut") ? "windows-1251" : "utf-8").decode(text);
          assert.equal(await page.$eval("#failure-line", (s) => s.textContent), decoded.split("\n")[line - 1].replace(/\r$/, ""));
        }
      });
    }
    await load(page, join(data, "bad-line.txt"));
    await shot(page, "error", "#failure");
    ownFiles(requests, pathToFileURL(site).href);
    await page.close();
  });
});

describe("the page itself", () => {
  test("Russian when the browser prefers it, English otherwise", async (t) => {
    for (const [language, heading] of [["ru-RU", "Сводка"], ["en-GB", "Summary"], ["de-DE", "Summary"]]) {
      await t.test(language, async () => {
        const { page } = await openPage({ language });
        await load(page, join(root, "examples/statement_utf8.txt"));
        assert.equal(await page.$eval("#summary-title", (h) => h.textContent), heading);
        await page.close();
      });
    }
  });

  test("a file dropped on the page opens as one picked", async () => {
    const bytes = [...readFileSync(join(root, "examples/statement_cp1251.txt"))];
    const { page } = await openPage();
    await page.evaluate((content) => {
      const file = new File([new Uint8Array(content)], "dropped.txt");
      const transfer = new DataTransfer();
      transfer.items.add(file);
      document.getElementById("drop").dispatchEvent(new DragEvent("drop", { dataTransfer: transfer, bubbles: true, cancelable: true }));
    }, bytes);
    await settled(page);
    assert.equal(await page.$eval('[data-fact="file"]', (d) => d.textContent), "dropped.txt");
    assert.equal(await page.$eval('[data-fact="encoding"]', (d) => d.textContent), "cp1251");
    assert.equal(await page.$eval('[data-fact="documents_count"]', (d) => d.textContent),
      String(cliJson(join(root, "examples/statement_cp1251.txt")).value.documents.length));
    await page.close();
  });

  test("from a static server, at a phone's width: no request outside the site", async () => {
    const server = createServer((req, res) => {
      const path = join(site, decodeURIComponent(new URL(req.url, "http://x").pathname));
      if (!path.startsWith(site) || !existsSync(path)) { res.writeHead(404).end(); return; }
      const type = { html: "text/html", js: "text/javascript", css: "text/css" }[path.split(".").pop()] || "application/octet-stream";
      res.writeHead(200, { "content-type": `${type}; charset=utf-8` }).end(readFileSync(path.endsWith("/") ? join(path, "index.html") : path));
    });
    await new Promise((r) => server.listen(0, "127.0.0.1", r));
    const origin = `http://127.0.0.1:${server.address().port}/`;
    try {
      const { page, requests, problems } = await openPage({ url: origin + "index.html", language: "ru", width: 390 });
      await load(page, join(root, "examples/statement_cp1251.txt"));
      assert.equal(await page.$eval("#status", (s) => s.dataset.state), "ready");
      const overflow = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
      assert.ok(overflow <= 0, `the page is ${overflow}px wider than the phone`);
      await page.screenshot({ path: join(shots, "phone.png"), fullPage: true });
      ownFiles(requests, origin);
      assert.deepEqual(problems, []);
      await page.close();
    } finally {
      server.close();
    }
  });

  test("screenshots of each view", async () => {
    const { page } = await openPage({ language: "ru" });
    await load(page, join(data, "gen-cp1251.txt"));
    await shot(page, "summary", "#summary");
    await shot(page, "accounts", "#accounts");
    await shot(page, "documents", "#documents");
    await shot(page, "warnings", "#warnings");
    await page.setViewport({ width: 1100, height: 760 });
    await page.evaluate(() => document.getElementById("documents").scrollIntoView());
    await page.screenshot({ path: join(shots, "documents-top.png") });
    await page.evaluate(() => window.scrollTo(0, 0));
    await page.screenshot({ path: join(shots, "page.png") });
    await page.close();
    // The one in the README: the English page with the UTF-8 sample.
    const english = (await openPage({ language: "en", width: 1000 })).page;
    await english.setViewport({ width: 1000, height: 1100 });
    await load(english, join(root, "examples/statement_utf8.txt"));
    await english.screenshot({ path: join(shots, "readme.png") });
    await english.close();
  });
});

describe("a 50 MB statement", { skip: !big }, () => {
  test("opens in seconds, the page answering all along, with the tool's results", async () => {
    const file = generate("big.txt", "--size", "50MB", "--seed", "31", "--encoding", "cp1251");
    const expected = cliJson(file).value;
    const { page, requests } = await openPage();
    // The longest the page's own thread went without running a timer.
    await page.evaluate(() => {
      window.longestGap = 0;
      let last = performance.now();
      window.ticker = setInterval(() => {
        const now = performance.now();
        window.longestGap = Math.max(window.longestGap, now - last);
        last = now;
      }, 20);
    });
    const started = Date.now();
    await load(page, file);
    const seconds = (Date.now() - started) / 1000;
    const gap = await page.evaluate(() => window.longestGap);
    const reported = await page.$eval("#status", (s) => s.textContent);
    console.log(`# 50 MB statement (${expected.documents.length} documents): ready in ${seconds.toFixed(2)} s; ` +
      `longest pause of the page ${Math.round(gap)} ms; the page says "${reported}"`);
    writeFileSync(join(out, "big-timing.txt"), `${seconds.toFixed(2)} s, longest pause ${Math.round(gap)} ms\n`);
    assert.ok(seconds < 30, `took ${seconds} s`);
    assert.ok(gap < 1000, `the page stood still for ${gap} ms`);
    assert.deepEqual(await totals(page), expectedTotals(expected, expected.documents.map((_, i) => i)));
    assert.deepEqual((await rows(page)).map((r) => [r.doc_number, r.amount]),
      expected.documents.slice(0, 100).map((d) => [d.doc_number, d.amount]));
    assert.deepEqual(await download(page, "#export-csv"), cliCsv(file));
    ownFiles(requests, pathToFileURL(site).href);
    await page.close();
  });
});
