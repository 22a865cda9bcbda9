// The page's worker: reads the statement with the WebAssembly core and
// keeps it, so that sorting and filtering tens of thousands of documents
// never holds up the page, which gets only the rows it shows.  Loaded from
// a Blob after mirtle_core.js and mirtle.js (see bundle.mjs).
"use strict";

let reader = null;
let state = null;  // the open statement and what the page has asked to see

const ready = MirtleReader.create(createMirtleCore).then((r) => (reader = r));

// --- exact sums of decimal amounts ("148500.00", "-5", "1200") -------------

function parseAmount(text) {
  const negative = text.startsWith("-");
  const digits = negative || text.startsWith("+") ? text.slice(1) : text;
  const point = digits.indexOf(".");
  const scale = point < 0 ? 0 : digits.length - point - 1;
  const units = BigInt(point < 0 ? digits : digits.slice(0, point) + digits.slice(point + 1));
  return { units: negative ? -units : units, scale };
}

function rescale(units, from, to) {
  return to > from ? units * 10n ** BigInt(to - from) : units;
}

// A sum keeps the largest scale of its terms, as a decimal sum does.
class Sum {
  constructor() {
    this.units = 0n;
    this.scale = 0;
  }
  add(amount) {
    const scale = Math.max(this.scale, amount.scale);
    this.units = rescale(this.units, this.scale, scale) + rescale(amount.units, amount.scale, scale);
    this.scale = scale;
  }
  text() {
    const negative = this.units < 0n;
    let digits = (negative ? -this.units : this.units).toString().padStart(this.scale + 1, "0");
    if (this.scale) digits = digits.slice(0, -this.scale) + "." + digits.slice(-this.scale);
    return (negative ? "-" : "") + digits;
  }
}

// --- the open statement ------------------------------------------------------

// The statement's own accounts: its account sections and the header's
// РасчСчет lines.  A document paid from one is outgoing, paid to one
// incoming, and both when money moves between two of them.
function ownAccounts(statement) {
  const own = new Set(Object.keys(statement.accounts));
  const account = statement.header["РасчСчет"];
  if (account) own.add(account);
  return own;
}

function direction(doc, own) {
  const out = own.has(doc.counterparty_account);
  const inc = own.has(doc.payee_account);
  return out && inc ? "both" : out ? "out" : inc ? "in" : "none";
}

function prepare(opened) {
  const { statement } = opened;
  const own = ownAccounts(statement);
  const docs = statement.documents;
  const amounts = docs.map((d) => parseAmount(d.amount));
  const scale = amounts.reduce((s, a) => Math.max(s, a.scale), 0);
  return {
    statement,
    lines: opened.documentLines,
    balances: opened.balances,
    directions: docs.map((d) => direction(d, own)),
    amounts,
    amountKeys: amounts.map((a) => rescale(a.units, a.scale, scale)),
    haystacks: null,
    shown: docs.map((_, i) => i),
  };
}

function summary(s, name, size, elapsed) {
  const { statement } = s;
  return {
    name,
    size,
    elapsed,
    encoding: statement.encoding,
    header: statement.header,
    accounts: statement.accounts,
    balances: s.balances,
    warnings: statement.warnings,
    documents: statement.documents.length,
    fields: reader.fields(),
  };
}

// --- what is shown -----------------------------------------------------------

function haystack(doc) {
  let text = "";
  for (const key in doc) if (doc[key] !== null) text += doc[key] + "\u0001";
  return text.toLowerCase();
}

function matches(s, i, filter) {
  const doc = s.statement.documents[i];
  if (filter.from && doc.doc_date < filter.from) return false;
  if (filter.to && doc.doc_date > filter.to) return false;
  const dir = s.directions[i];
  if (filter.direction === "in" && dir !== "in" && dir !== "both") return false;
  if (filter.direction === "out" && dir !== "out" && dir !== "both") return false;
  if (filter.text) {
    if (!s.haystacks) s.haystacks = s.statement.documents.map(haystack);
    if (!s.haystacks[i].includes(filter.text)) return false;
  }
  return true;
}

function compareBy(s, key) {
  const docs = s.statement.documents;
  if (key === "amount") return (a, b) => (s.amountKeys[a] < s.amountKeys[b] ? -1 : s.amountKeys[a] > s.amountKeys[b] ? 1 : 0);
  if (key === "direction") return (a, b) => s.directions[a].localeCompare(s.directions[b]);
  if (key === "index") return (a, b) => a - b;
  const collator = new Intl.Collator("ru", { numeric: true });
  return (a, b) => collator.compare(docs[a][key] ?? "", docs[b][key] ?? "");
}

function select(s, filter, sort) {
  const docs = s.statement.documents;
  const wanted = { ...filter, text: (filter.text || "").trim().toLowerCase() };
  const shown = [];
  for (let i = 0; i < docs.length; ++i) if (matches(s, i, wanted)) shown.push(i);
  if (sort && sort.key && sort.key !== "index") {
    const compare = compareBy(s, sort.key);
    const sign = sort.descending ? -1 : 1;
    shown.sort((a, b) => sign * compare(a, b) || a - b);
  } else if (sort && sort.descending) {
    shown.reverse();
  }
  s.shown = shown;
}

function totals(s) {
  const income = new Sum(), expense = new Sum();
  let incoming = 0, outgoing = 0;
  for (const i of s.shown) {
    const dir = s.directions[i];
    if (dir === "in" || dir === "both") { income.add(s.amounts[i]); ++incoming; }
    if (dir === "out" || dir === "both") { expense.add(s.amounts[i]); ++outgoing; }
  }
  return { count: s.shown.length, incoming, outgoing, income: income.text(), expense: expense.text() };
}

function row(s, i) {
  const d = s.statement.documents[i];
  return {
    index: i,
    line: s.lines[i],
    doc_number: d.doc_number,
    doc_date: d.doc_date,
    amount: d.amount,
    direction: s.directions[i],
    counterparty: d.counterparty_1 ?? d.counterparty,
    counterparty_account: d.counterparty_account,
    payee: d.payee_1 ?? d.payee,
    payee_account: d.payee_account,
    purpose: d.purpose,
  };
}

function view(s, message) {
  if (message.filter) select(s, message.filter, message.sort);
  const offset = Math.max(0, Math.min(message.offset || 0, s.shown.length));
  const rows = s.shown.slice(offset, offset + (message.limit || 100)).map((i) => row(s, i));
  return { offset, rows, totals: totals(s) };
}

// --- messages ----------------------------------------------------------------

const handlers = {
  async open(message) {
    const started = performance.now();
    const buffer = await message.file.arrayBuffer();
    const opened = reader.open(buffer);
    if (opened.error) {
      state = null;
      return { error: opened.error, name: message.name };
    }
    state = prepare(opened);
    return { summary: summary(state, message.name, buffer.byteLength, performance.now() - started) };
  },
  view(message) {
    return view(state, message);
  },
  record(message) {
    const section = reader.section(message.index);
    return { document: state.statement.documents[message.index], line: state.lines[message.index], section };
  },
  export(message) {
    const bytes = message.format === "csv" ? reader.csv(state.shown, !!message.excel) : reader.json(state.shown);
    return { bytes, count: state.shown.length };
  },
};

self.onmessage = async (event) => {
  const message = event.data;
  await ready;
  let answer;
  try {
    answer = await handlers[message.type](message);
  } catch (e) {
    answer = { error: { kind: "Internal", message: String(e && e.message ? e.message : e), line: null } };
  }
  answer.id = message.id;
  self.postMessage(answer, answer.bytes ? [answer.bytes.buffer] : []);
};
