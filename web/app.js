// The page: opens a statement in the worker (worker-source.js) and shows
// what it answers.  Nothing leaves the page: the worker is made from a
// Blob and the WebAssembly core travels inside it.
"use strict";

const TEXTS = {
  ru: {
    tagline: "Просмотр банковской выписки. Файл читается здесь, в браузере, и никуда не отправляется.",
    open: "Открыть выписку…", language: "English",
    drop: "Перетащите файл выписки сюда или нажмите Enter, чтобы выбрать его.",
    private: "Формат 1CClientBankExchange, кодировка Windows-1251 или UTF-8 определяется сама.",
    reading: "Читаю {name}…", opened: "{name}: {count} документов за {ms} мс", failed: "Файл не прочитан",
    line: "Строка {line}:",
    summary: "Сводка", file: "Файл", sender: "Отправитель", recipient: "Получатель", period: "Период",
    encoding: "Кодировка", created: "Создан", documents_count: "Документов", warnings_count: "Предупреждений",
    accounts: "Счета", no_accounts: "В выписке нет разделов счетов.",
    interval: "Период", opening: "Начальный остаток", income: "Поступило", expense: "Списано", closing: "Конечный остаток",
    arithmetic: "Остаток сходится", continuity: "Стыкуется с прошлым", source_line: "Строка",
    by_documents: "По документам", documents_differ: "поступило {income}, списано {expense}",
    check_ok: "да", check_bad: "нет, ожидалось {expected}", continuity_bad: "нет, было {previous}", not_checked: "—",
    chart: "Остатки по счёту {account}",
    documents: "Документы", search: "Поиск", from: "С даты", to: "По дату", direction: "Направление",
    all: "все", incoming: "входящие", outgoing: "исходящие", both: "между своими счетами", none: "—",
    export_csv: "Скачать CSV", export_json: "Скачать JSON",
    totals: "Показано {count}: поступления {incoming} на {income}, списания {outgoing} на {expense}",
    col_doc_number: "Номер", col_doc_date: "Дата", col_amount: "Сумма", col_direction: "Направление",
    col_counterparty: "Плательщик", col_counterparty_account: "Счёт плательщика", col_payee: "Получатель",
    col_payee_account: "Счёт получателя", col_purpose: "Назначение платежа",
    prev: "← Назад", next: "Вперёд →", page: "{first}–{last} из {total}", nothing: "Ничего не найдено",
    warnings: "Предупреждения", no_warnings: "Предупреждений нет.",
    record: "Документ № {number} от {date}, строки {start}–{end}", close: "Закрыть",
    extra: "добавлено банком", absent: "нет",
  },
  en: {
    tagline: "A bank statement viewer. The file is read here, in your browser, and sent nowhere.",
    open: "Open a statement…", language: "Русский",
    drop: "Drop a statement file here, or press Enter to choose one.",
    private: "The 1CClientBankExchange format; Windows-1251 or UTF-8 is detected on its own.",
    reading: "Reading {name}…", opened: "{name}: {count} documents in {ms} ms", failed: "The file could not be read",
    line: "Line {line}:",
    summary: "Summary", file: "File", sender: "Sender", recipient: "Recipient", period: "Period",
    encoding: "Encoding", created: "Created", documents_count: "Documents", warnings_count: "Warnings",
    accounts: "Accounts", no_accounts: "The statement has no account sections.",
    interval: "Period", opening: "Opening balance", income: "Income", expense: "Expense", closing: "Closing balance",
    arithmetic: "Adds up", continuity: "Follows on", source_line: "Line",
    by_documents: "By the documents", documents_differ: "income {income}, expense {expense}",
    check_ok: "yes", check_bad: "no, expected {expected}", continuity_bad: "no, was {previous}", not_checked: "—",
    chart: "Balances of account {account}",
    documents: "Documents", search: "Search", from: "From", to: "To", direction: "Direction",
    all: "all", incoming: "incoming", outgoing: "outgoing", both: "between own accounts", none: "—",
    export_csv: "Download CSV", export_json: "Download JSON",
    totals: "Shown {count}: {incoming} incoming for {income}, {outgoing} outgoing for {expense}",
    col_doc_number: "Number", col_doc_date: "Date", col_amount: "Amount", col_direction: "Direction",
    col_counterparty: "Payer", col_counterparty_account: "Payer's account", col_payee: "Payee",
    col_payee_account: "Payee's account", col_purpose: "Purpose",
    prev: "← Previous", next: "Next →", page: "{first}–{last} of {total}", nothing: "Nothing found",
    warnings: "Warnings", no_warnings: "No warnings.",
    record: "Document no. {number} of {date}, lines {start}–{end}", close: "Close",
    extra: "added by the bank", absent: "absent",
  },
};

const COLUMNS = [
  { key: "doc_number" }, { key: "doc_date" }, { key: "amount", num: true }, { key: "direction" },
  { key: "counterparty" }, { key: "counterparty_account", narrow: true }, { key: "payee" },
  { key: "payee_account", narrow: true }, { key: "purpose" },
];
const PAGE = 100;

const $ = (id) => document.getElementById(id);

function preferredLanguage() {
  for (const tag of navigator.languages || [navigator.language || ""]) {
    const primary = tag.toLowerCase().split("-")[0];
    if (primary === "ru" || primary === "en") return primary;
  }
  return "en";
}

const page = {
  language: preferredLanguage(),
  summary: null,
  error: null,
  view: null,
  offset: 0,
  sort: { key: "index", descending: false },
};

function t(key, values = {}) {
  const text = TEXTS[page.language][key] ?? key;
  return text.replace(/\{(\w+)\}/g, (_, name) => String(values[name] ?? ""));
}

function element(tag, attributes = {}, ...children) {
  const node = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) {
    if (value === undefined || value === null || value === false) continue;
    if (name === "className") node.className = value;
    else node.setAttribute(name, value === true ? "" : value);
  }
  for (const child of children) if (child !== null && child !== undefined) node.append(child);
  return node;
}

// --- the worker --------------------------------------------------------------

const worker = new Worker(URL.createObjectURL(new Blob([MIRTLE_WORKER_SOURCE], { type: "text/javascript" })));
const pending = new Map();
let nextId = 1;

function ask(message, transfer = []) {
  const id = nextId++;
  message.id = id;
  document.body.dataset.busy = String(pending.size + 1);
  return new Promise((resolve) => {
    pending.set(id, resolve);
    worker.postMessage(message, transfer);
  });
}

worker.onmessage = (event) => {
  const resolve = pending.get(event.data.id);
  pending.delete(event.data.id);
  document.body.dataset.busy = String(pending.size);
  if (resolve) resolve(event.data);
};

// --- opening -----------------------------------------------------------------

function setStatus(text, state) {
  $("status").textContent = text;
  $("status").dataset.state = state;
}

async function openFile(file) {
  if (!file) return;
  setStatus(t("reading", { name: file.name }), "reading");
  $("failure").hidden = true;
  $("result").hidden = true;
  // The worker reads the file itself: the page's thread copies nothing.
  const answer = await ask({ type: "open", file, name: file.name });
  page.summary = answer.summary || null;
  page.error = answer.error ? answer : null;
  page.offset = 0;
  page.sort = { key: "index", descending: false };
  $("filters").reset();
  if (page.error) {
    renderFailure();
    setStatus(t("failed"), "failed");
    return;
  }
  renderStatement();
  await refresh(true);
  setStatus(t("opened", { name: file.name, count: page.summary.documents, ms: Math.round(page.summary.elapsed) }), "ready");
}

function renderFailure() {
  const { error, name } = page.error;
  $("failure").hidden = false;
  $("failure-where").textContent = error.line ? `${name}: ${t("line", { line: error.line })}` : `${name}:`;
  $("failure-message").textContent = error.message;
  $("failure-line").textContent = error.text ?? "";
  $("failure-line").dataset.line = error.line ?? "";
  $("failure-line").hidden = !error.line;
  $("failure").dataset.line = error.line ?? "";
}

// --- summary, accounts, warnings ---------------------------------------------

function renderStatement() {
  $("result").hidden = false;
  $("drop").classList.add("compact");
  renderSummary();
  renderAccounts();
  renderWarnings();
  renderHead();
}

function renderSummary() {
  const s = page.summary;
  const h = s.header;
  const period = [h["ДатаНачала"], h["ДатаКонца"]].filter(Boolean).join(" – ");
  const facts = [
    ["file", s.name], ["sender", h["Отправитель"]], ["recipient", h["Получатель"]], ["period", period],
    ["encoding", s.encoding], ["created", [h["ДатаСоздания"], h["ВремяСоздания"]].filter(Boolean).join(" ")],
    ["documents_count", String(s.documents)], ["warnings_count", String(s.warnings.length)],
  ];
  const list = $("summary-list");
  list.replaceChildren();
  for (const [key, value] of facts) {
    if (!value) continue;
    list.append(element("dt", {}, t(key)), element("dd", { "data-fact": key }, value));
  }
}

function check(ok, bad) {
  if (ok === null || ok === undefined) return element("span", {}, t("not_checked"));
  return ok ? element("span", { className: "ok" }, "✓ " + t("check_ok")) : element("span", { className: "bad" }, "✗ " + bad);
}

function renderAccounts() {
  const list = $("accounts-list");
  list.replaceChildren();
  const numbers = Object.keys(page.summary.accounts);
  if (!numbers.length) list.append(element("p", {}, t("no_accounts")));
  for (const number of numbers) {
    const rows = page.summary.balances.filter((r) => r.account === number);
    const head = element("tr", {}, ...["interval", "opening", "income", "expense", "closing", "arithmetic", "continuity", "by_documents", "source_line"]
      .map((key, i) => element("th", { className: i >= 1 && i <= 4 ? "num" : null, scope: "col" }, t(key))));
    const body = rows.map((r) =>
      element("tr", { "data-line": r.line },
        element("td", {}, `${r.date_start} – ${r.date_end ?? "…"}`),
        element("td", { className: "num" }, r.opening),
        element("td", { className: "num" }, r.income ?? "—"),
        element("td", { className: "num" }, r.expense ?? "—"),
        element("td", { className: "num" }, r.closing ?? "—"),
        element("td", { "data-check": "arithmetic" }, check(r.arithmetic_ok, t("check_bad", { expected: r.expected_closing }))),
        element("td", { "data-check": "continuity" }, check(r.continuity_ok, t("continuity_bad", { previous: r.previous_closing }))),
        element("td", { "data-check": "documents" }, byDocuments(r)),
        element("td", { className: "num" }, r.line ?? "")));
    list.append(element("div", { className: "account", "data-account": number },
      element("h3", {}, number),
      element("div", { className: "table-wrap" }, element("table", {}, element("thead", {}, head), element("tbody", {}, ...body))),
      chart(number, rows)));
  }
}

// The statement's own documents against the period's totals: a warning,
// not an error, since a statement may hold only some of the documents.
function byDocuments(r) {
  const differs = (d) => d !== null && !/^-?0*\.?0*$/.test(d);
  if (!differs(r.income_difference) && !differs(r.expense_difference)) {
    return r.documents_income === null ? t("not_checked") : element("span", { className: "ok" }, "✓ " + t("check_ok"));
  }
  return element("span", { className: "warn" }, "⚠ " + t("documents_differ", {
    income: r.documents_income ?? "—", expense: r.documents_expense ?? "—",
  }));
}

// A step line of the balance over time: each period from its opening to
// its closing balance.
function chart(number, rows) {
  const points = [];
  for (const r of rows) {
    points.push([Date.parse(r.date_start), Number(r.opening)]);
    if (r.closing !== null) points.push([Date.parse(r.date_end ?? r.date_start) + 86400000, Number(r.closing)]);
  }
  if (points.length < 2) return null;
  const W = 420, H = 150, left = 84, right = 12, top = 10, bottom = 26;
  const xs = points.map((p) => p[0]), ys = points.map((p) => p[1]);
  const x0 = Math.min(...xs), x1 = Math.max(...xs);
  let y0 = Math.min(0, ...ys), y1 = Math.max(...ys);
  if (y1 === y0) y1 = y0 + 1;
  const X = (x) => left + ((x - x0) / (x1 - x0 || 1)) * (W - left - right);
  const Y = (y) => top + (1 - (y - y0) / (y1 - y0)) * (H - top - bottom);
  const ns = "http://www.w3.org/2000/svg";
  const svg = document.createElementNS(ns, "svg");
  svg.setAttribute("viewBox", `0 0 ${W} ${H}`);
  svg.setAttribute("class", "chart");
  svg.setAttribute("role", "img");
  svg.setAttribute("aria-label", t("chart", { account: number }));
  const add = (tag, attrs, text) => {
    const node = document.createElementNS(ns, tag);
    for (const [k, v] of Object.entries(attrs)) node.setAttribute(k, v);
    if (text !== undefined) node.textContent = text;
    svg.append(node);
  };
  add("line", { x1: left, y1: Y(y0), x2: W - right, y2: Y(y0), stroke: "#d7dde4" });
  add("line", { x1: left, y1: Y(y1), x2: W - right, y2: Y(y1), stroke: "#d7dde4", "stroke-dasharray": "3 3" });
  if (y0 < 0) add("line", { x1: left, y1: Y(0), x2: W - right, y2: Y(0), stroke: "#b3261e" });
  add("text", { x: left - 6, y: Y(y1) + 4, "text-anchor": "end" }, y1.toLocaleString(page.language));
  add("text", { x: left - 6, y: Y(y0) + 4, "text-anchor": "end" }, y0.toLocaleString(page.language));
  const day = (ms) => new Date(ms).toISOString().slice(0, 10);
  add("text", { x: left, y: H - 8 }, day(x0));
  add("text", { x: W - right, y: H - 8, "text-anchor": "end" }, day(x1 - 86400000));
  add("polyline", { points: points.map((p) => `${X(p[0]).toFixed(1)},${Y(p[1]).toFixed(1)}`).join(" "),
    fill: "none", stroke: "#1f5fa8", "stroke-width": 2 });
  for (const p of points) add("circle", { cx: X(p[0]).toFixed(1), cy: Y(p[1]).toFixed(1), r: 3, fill: "#1f5fa8" });
  return svg;
}

function renderWarnings() {
  const list = $("warnings-list");
  list.replaceChildren();
  const warnings = page.summary.warnings;
  if (!warnings.length) list.append(element("li", {}, t("no_warnings")));
  for (const w of warnings) {
    list.append(element("li", { "data-line": w.lineno }, element("strong", {}, t("line", { line: w.lineno })), " ", w.message));
  }
}

// --- documents ---------------------------------------------------------------

function renderHead() {
  const head = $("table-head");
  head.replaceChildren();
  for (const column of COLUMNS) {
    const sorted = page.sort.key === column.key;
    const mark = sorted ? (page.sort.descending ? " ▼" : " ▲") : "";
    head.append(element("th", {
      scope: "col", className: [column.num ? "num" : "", column.narrow ? "hide-narrow" : ""].join(" ").trim() || null,
      "aria-sort": sorted ? (page.sort.descending ? "descending" : "ascending") : null,
    }, element("button", { type: "button", "data-sort": column.key }, t("col_" + column.key) + mark)));
  }
}

function filter() {
  return {
    text: $("filter-text").value,
    from: $("filter-from").value,
    to: $("filter-to").value,
    direction: $("filter-direction").value,
  };
}

async function refresh(reselect) {
  if (!page.summary) return;
  if (reselect) page.offset = 0;
  const message = { type: "view", offset: page.offset, limit: PAGE };
  if (reselect) Object.assign(message, { filter: filter(), sort: page.sort });
  page.view = await ask(message);
  page.offset = page.view.offset;
  renderRows();
}

function renderRows() {
  const { rows, totals } = page.view;
  const body = $("table-body");
  body.replaceChildren();
  for (const r of rows) {
    body.append(element("tr", { tabindex: 0, "data-index": r.index },
      ...COLUMNS.map((c) => {
        const value = c.key === "direction" ? t(r.direction === "in" ? "incoming" : r.direction === "out" ? "outgoing" : r.direction) : r[c.key];
        return element("td", {
          className: [c.num ? "num" : "", c.narrow ? "hide-narrow" : "", c.key === "purpose" ? "purpose" : "", c.key === "counterparty" || c.key === "payee" ? "name" : "",
            c.key === "direction" ? "dir-" + r.direction : ""].join(" ").trim() || null,
          "data-key": c.key,
        }, c.key === "purpose" ? element("div", { className: "clamp", title: value ?? "" }, value ?? "") : value ?? "");
      })));
  }
  if (!rows.length) body.append(element("tr", {}, element("td", { colspan: COLUMNS.length }, t("nothing"))));
  $("totals").textContent = t("totals", totals);
  $("totals").dataset.count = totals.count;
  $("totals").dataset.income = totals.income;
  $("totals").dataset.expense = totals.expense;
  const last = Math.min(page.offset + PAGE, totals.count);
  $("page-info").textContent = totals.count ? t("page", { first: page.offset + 1, last, total: totals.count }) : "";
  $("page-prev").disabled = page.offset === 0;
  $("page-next").disabled = last >= totals.count;
}

async function showRecord(index) {
  const answer = await ask({ type: "record", index });
  const doc = answer.document;
  const section = answer.section && answer.section.sections[0];
  const known = new Map(page.summary.fields.map(([name, key]) => [key, name]));
  const table = $("record-table");
  table.replaceChildren();
  const lines = new Map();
  if (section) for (const [line, key] of section.attributes) if (!lines.has(key)) lines.set(key, line);
  for (const [name, key] of page.summary.fields) {
    const value = doc[name];
    table.append(element("tr", { "data-field": name },
      element("td", {}, key), element("td", {}, name),
      element("td", {}, value === null ? element("em", {}, t("absent")) : value),
      element("td", { className: "line" }, lines.get(key) ?? "")));
  }
  if (section) {
    for (const [line, key, value] of section.attributes) {
      if (known.has(key)) continue;
      table.append(element("tr", { className: "extra", "data-extra": key },
        element("td", {}, key), element("td", {}, t("extra")), element("td", {}, value), element("td", { className: "line" }, line)));
    }
  }
  $("record-title").textContent = t("record", {
    number: doc.doc_number, date: doc.doc_date, start: section ? section.start_line : "", end: answer.line,
  });
  $("record").dataset.index = index;
  $("record").showModal();
}

async function download(format) {
  if (!page.summary) return;
  const answer = await ask({ type: "export", format });
  const base = page.summary.name.replace(/\.[^.]*$/, "") || "statement";
  const type = format === "csv" ? "text/csv" : "application/json";
  const url = URL.createObjectURL(new Blob([answer.bytes], { type }));
  const link = element("a", { href: url, download: `${base}.${format}` });
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 10000);
}

// --- language ----------------------------------------------------------------

function applyLanguage() {
  document.documentElement.lang = page.language;
  for (const node of document.querySelectorAll("[data-t]")) node.textContent = t(node.dataset.t);
  $("language").textContent = t("language");
  if (page.error) renderFailure();
  if (page.summary) {
    renderStatement();
    if (page.view) renderRows();
  }
}

// --- events ------------------------------------------------------------------

function listen() {
  $("file").addEventListener("change", (e) => openFile(e.target.files[0]));
  const drop = $("drop");
  drop.addEventListener("keydown", (e) => {
    if (e.key === "Enter" || e.key === " ") { e.preventDefault(); $("file").click(); }
  });
  drop.addEventListener("click", () => $("file").click());
  for (const target of [drop, document.body]) {
    target.addEventListener("dragover", (e) => { e.preventDefault(); drop.classList.add("over"); });
    target.addEventListener("dragleave", () => drop.classList.remove("over"));
    target.addEventListener("drop", (e) => {
      e.preventDefault();
      e.stopPropagation();
      drop.classList.remove("over");
      openFile(e.dataTransfer.files[0]);
    });
  }
  $("language").addEventListener("click", () => {
    page.language = page.language === "ru" ? "en" : "ru";
    applyLanguage();
  });
  let typing = 0;
  $("filter-text").addEventListener("input", () => { clearTimeout(typing); typing = setTimeout(() => refresh(true), 200); });
  for (const id of ["filter-from", "filter-to", "filter-direction"]) $(id).addEventListener("change", () => refresh(true));
  $("filters").addEventListener("submit", (e) => { e.preventDefault(); refresh(true); });
  $("table-head").addEventListener("click", (e) => {
    const button = e.target.closest("button[data-sort]");
    if (!button) return;
    const key = button.dataset.sort;
    page.sort = { key, descending: page.sort.key === key && !page.sort.descending };
    renderHead();
    refresh(true);
  });
  const body = $("table-body");
  body.addEventListener("click", (e) => {
    const row = e.target.closest("tr[data-index]");
    if (row) showRecord(Number(row.dataset.index));
  });
  body.addEventListener("keydown", (e) => {
    const row = e.target.closest("tr[data-index]");
    if (!row) return;
    if (e.key === "Enter") showRecord(Number(row.dataset.index));
    if (e.key === "ArrowDown" && row.nextElementSibling) { e.preventDefault(); row.nextElementSibling.focus(); }
    if (e.key === "ArrowUp" && row.previousElementSibling) { e.preventDefault(); row.previousElementSibling.focus(); }
  });
  $("page-prev").addEventListener("click", () => { page.offset = Math.max(0, page.offset - PAGE); refresh(false); });
  $("page-next").addEventListener("click", () => { page.offset += PAGE; refresh(false); });
  $("export-csv").addEventListener("click", () => download("csv"));
  $("export-json").addEventListener("click", () => download("json"));
}

listen();
applyLanguage();
document.body.dataset.busy = "0";
