// The statement reader as a JavaScript module: the core compiled to
// WebAssembly (mirtle_core.js, whose factory is createMirtleCore) behind a
// few calls that take and give plain values.
//
//   const reader = await MirtleReader.create(createMirtleCore);
//   const opened = reader.open(arrayBuffer);
//   opened.error       // {kind, message, line, text} when the file fails
//   opened.statement   // what `mirtle json` writes, as objects
//   opened.documentLines, opened.balances
//   reader.csv([0, 2]) // bytes of `mirtle csv` for those documents
//
// One statement is open at a time; open() replaces it.
"use strict";

class MirtleReader {
  static async create(factory) {
    const core = await factory();
    return new MirtleReader(core);
  }

  constructor(core) {
    this.core = core;
    this.viewer = core._viewer_new();
    if (!this.viewer) throw new Error("out of memory");
  }

  // The statement in `buffer` (an ArrayBuffer or a typed array).
  open(buffer) {
    const bytes = buffer instanceof Uint8Array ? buffer : new Uint8Array(buffer.buffer || buffer);
    const at = this.core._viewer_input(this.viewer, bytes.length);
    if (!at && bytes.length) return { error: { kind: "OutOfMemory", message: "Not enough memory", line: null } };
    this.core.HEAPU8.set(bytes, at);
    const ok = this.core._viewer_open(this.viewer);
    const text = this.outputText();
    this.core._viewer_release(this.viewer);
    if (!text) return { error: { kind: "Internal", message: "no answer", line: null } };
    const answer = JSON.parse(text);
    if (!ok) return { error: answer.error };
    return { statement: answer.statement, documentLines: answer.document_lines, balances: answer.balances };
  }

  // `mirtle csv` (with `excel`: `mirtle csv --excel`) of the documents at
  // `indices`, in that order: a Uint8Array.
  csv(indices, excel = false) {
    return this.withIndices(indices, (at, n) => this.core._viewer_csv(this.viewer, at, n, excel ? 1 : 0));
  }

  // `mirtle json` of the statement holding only those documents.
  json(indices) {
    return this.withIndices(indices, (at, n) => this.core._viewer_json(this.viewer, at, n));
  }

  // The section of document `index` as the section stream gives it: every
  // key the bank wrote, known or not, with its line.
  section(index) {
    if (!this.core._viewer_section(this.viewer, index)) return null;
    return JSON.parse(this.outputText());
  }

  // [[attribute name, statement key], ...] for the 53 document fields.
  fields() {
    this.core._viewer_fields(this.viewer);
    return JSON.parse(this.outputText());
  }

  withIndices(indices, call) {
    const n = indices.length;
    const at = this.core._malloc(Math.max(4, n * 4));
    if (!at) throw new Error("out of memory");
    try {
      this.core.HEAPU32.set(indices, at >>> 2);
      const ok = call(at, n);
      const bytes = this.outputBytes().slice();
      this.core._viewer_release(this.viewer);
      if (!ok) throw new Error(JSON.parse(new TextDecoder().decode(bytes)).error.message);
      return bytes;
    } finally {
      this.core._free(at);
    }
  }

  outputBytes() {
    const at = this.core._viewer_output(this.viewer) >>> 0;
    const size = this.core._viewer_output_size(this.viewer) >>> 0;
    return this.core.HEAPU8.subarray(at, at + size);
  }

  outputText() {
    return new TextDecoder().decode(this.outputBytes());
  }
}

if (typeof module !== "undefined") module.exports = { MirtleReader };
