// The page's entry points into the core and the export library, compiled
// to WebAssembly.  A statement is opened once and kept in a Viewer, which
// the page then asks for exports of the documents it shows and for the
// section of one document.  Every answer is UTF-8 bytes in the Viewer's
// output, read by the JavaScript side (web/mirtle.js) right after the call.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <exception>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mirtle/balances.hpp"
#include "mirtle/decode.hpp"
#include "mirtle/export.hpp"
#include "mirtle/message.hpp"
#include "mirtle/sections.hpp"
#include "mirtle/statement.hpp"
#include "mirtle/vocabulary.hpp"

namespace {

struct Viewer {
  std::string input;
  mirtle::Statement statement;
  std::vector<mirtle::LineNo> document_lines;  // each document's closing line
  std::string output;
};

// --- JSON pieces the export library does not write ---------------------------

void put_string(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      out += "\\u00";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;
    }
  }
  out += '"';
}

void put_key(std::string& out, std::string_view key) {
  if (out.back() != '{') out += ',';
  put_string(out, key);
  out += ':';
}

void put(std::string& out, std::string_view key, const std::optional<mirtle::Decimal>& amount) {
  put_key(out, key);
  if (amount) put_string(out, mirtle::format_amount(*amount));
  else out += "null";
}

void put(std::string& out, std::string_view key, const std::optional<mirtle::Date>& date) {
  put_key(out, key);
  if (date) put_string(out, mirtle::format_date(*date));
  else out += "null";
}

void put(std::string& out, std::string_view key, const std::optional<bool>& flag) {
  put_key(out, key);
  out += flag ? (*flag ? "true" : "false") : "null";
}

void put_balances(std::string& out, const std::vector<mirtle::BalanceRow>& rows) {
  out += '[';
  for (const mirtle::BalanceRow& row : rows) {
    if (out.back() != '[') out += ',';
    out += '{';
    put_key(out, "account");
    put_string(out, row.account);
    put(out, "date_start", std::optional(row.date_start));
    put(out, "date_end", row.date_end);
    put_key(out, "line");
    out += row.lineno ? std::to_string(*row.lineno) : "null";
    put(out, "opening", std::optional(row.opening));
    put(out, "income", row.income);
    put(out, "expense", row.expense);
    put(out, "closing", row.closing);
    put(out, "expected_closing", row.expected_closing);
    put(out, "arithmetic_ok", row.arithmetic_ok);
    put(out, "previous_closing", row.previous_closing);
    put(out, "continuity_ok", row.continuity_ok);
    put(out, "documents_income", row.documents_income);
    put(out, "documents_expense", row.documents_expense);
    put(out, "income_difference", row.income_difference);
    put(out, "expense_difference", row.expense_difference);
    put(out, "documents_differ", std::optional(row.documents_differ()));
    out += '}';
  }
  out += ']';
}

// --- opening -----------------------------------------------------------------

// The second reading: each document's closing line and the balance rows
// with their lines, which a Statement does not keep.
class LineSink final : public mirtle::RecordSink {
 public:
  explicit LineSink(std::string_view input) : balances_(input) {}

  void on_header(mirtle::Encoding encoding, const mirtle::AttributeMap& header) override {
    balances_.on_header(encoding, header);
  }
  void on_interval(std::string_view account, mirtle::Interval&& interval, mirtle::LineNo end_line) override {
    balances_.on_interval(account, std::move(interval), end_line);
  }
  void on_interval_section(std::string_view account, mirtle::Interval&& interval, mirtle::LineNo start_line,
                           mirtle::LineNo end_line) override {
    balances_.on_interval_section(account, std::move(interval), start_line, end_line);
  }
  void on_document(mirtle::Document&& document, mirtle::LineNo end_line) override {
    lines.push_back(end_line);
    balances_.on_document(std::move(document), end_line);
  }
  void on_warning(mirtle::Warning&& warning) override { balances_.on_warning(std::move(warning)); }

  std::vector<mirtle::BalanceRow> rows() { return balances_.finish(); }

  std::vector<mirtle::LineNo> lines;

 private:
  mirtle::BalanceCollector balances_;
};

// Line `lineno` (from 1) of the input as UTF-8, without its line break:
// the line an error names, shown beside it.
std::string input_line(std::string_view input, mirtle::LineNo lineno) {
  auto decoded = mirtle::text::decode_input(input);
  if (!decoded || lineno == 0) return {};
  std::string_view text = decoded.value().text;
  for (mirtle::LineNo n = 1; n < lineno; ++n) {
    const std::size_t feed = text.find('\n');
    if (feed == std::string_view::npos) return {};
    text.remove_prefix(feed + 1);
  }
  text = text.substr(0, text.find('\n'));
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  if (!decoded.value().per_line) return std::string(text);
  std::string utf8(text.size() * 3 + 1, '\0');
  utf8.resize(mirtle::text::decode_windows1251(text, utf8.data()));
  return utf8;
}

void put_error(std::string& out, std::string_view input, const mirtle::ParseError& error) {
  out = "{\"error\":{";
  put_key(out, "kind");
  put_string(out, mirtle::name(error.kind));
  put_key(out, "message");
  put_string(out, mirtle::describe(error));
  put_key(out, "line");
  if (mirtle::has_line(error)) {
    out += std::to_string(error.lineno);
    put_key(out, "text");
    put_string(out, input_line(input, error.lineno));
  } else {
    out += "null";
  }
  out += "}}";
}

// {"statement": what `mirtle json` writes, "document_lines": [...],
// "balances": [...]}, or {"error": {"kind", "message", "line", "text"}}.
bool open_statement(Viewer& viewer) {
  mirtle::ParseOptions options;
  options.threads = 1;  // a page's module has no threads
  auto parsed = mirtle::parse_statement({}, viewer.input, options);
  if (!parsed) {
    put_error(viewer.output, viewer.input, parsed.error());
    return false;
  }
  viewer.statement = std::move(parsed).value();
  LineSink lines(viewer.input);
  if (!mirtle::parse_records({}, viewer.input, lines)) return false;  // read once already: cannot fail
  viewer.document_lines = std::move(lines.lines);

  mirtle::StringSink json;
  json.bytes = "{\"statement\":";
  mirtle::write_json(viewer.statement, json);
  std::string& out = json.bytes;
  if (out.back() == '\n') out.pop_back();
  out += ",\"document_lines\":[";
  for (const mirtle::LineNo line : viewer.document_lines) {
    if (out.back() != '[') out += ',';
    out += std::to_string(line);
  }
  out += "],\"balances\":";
  put_balances(out, lines.rows());
  out += '}';
  viewer.output.swap(out);
  return true;
}

// --- what the page shows -----------------------------------------------------

// The statement with only the documents `picked`, in that order.
mirtle::Statement subset(const Viewer& viewer, std::span<const std::uint32_t> picked) {
  mirtle::Statement part;
  part.encoding = viewer.statement.encoding;
  part.header = viewer.statement.header;
  part.accounts = viewer.statement.accounts;
  part.warnings = viewer.statement.warnings;
  part.documents.reserve(picked.size());
  for (const std::uint32_t i : picked)
    if (i < viewer.statement.documents.size()) part.documents.push_back(viewer.statement.documents[i]);
  return part;
}

// The section stream's view of the document section that closes at
// `end_line`: the header and that one section, as write_sections_json
// writes a statement.
bool section_at(Viewer& viewer, mirtle::LineNo end_line) {
  auto opened = mirtle::SectionStream::open(viewer.input);
  if (!opened) return false;
  mirtle::SectionStream stream = std::move(opened).value();
  mirtle::RawStatement raw;
  raw.encoding = stream.encoding();
  // An open section's views stay valid until it closes: copied only for
  // the one asked for.
  struct View {
    mirtle::LineNo lineno;
    std::string_view key, value;
  };
  std::vector<View> attributes;
  mirtle::RawSection section;
  mirtle::SectionEvent event;
  for (;;) {
    auto more = stream.next(event);
    if (!more || !more.value()) return false;
    switch (event.kind) {
      case mirtle::EventKind::HeaderAttribute:
        raw.header.push_back({event.lineno, std::string(event.key), std::string(event.value)});
        break;
      case mirtle::EventKind::SectionStart:
        attributes.clear();
        section.type = event.section_type;
        section.start_line = event.lineno;
        section.doc_type = event.section_type == mirtle::SectionType::Document ? std::string(event.value) : "";
        break;
      case mirtle::EventKind::SectionAttribute:
        attributes.push_back({event.lineno, event.key, event.value});
        break;
      case mirtle::EventKind::SectionEnd:
        if (event.lineno != end_line) break;
        section.end_line = event.lineno;
        for (const View& a : attributes)
          section.attributes.push_back({a.lineno, std::string(a.key), std::string(a.value)});
        raw.sections.push_back(std::move(section));
        {
          mirtle::StringSink out;
          mirtle::write_sections_json(raw, out);
          viewer.output.swap(out.bytes);
        }
        return true;
      default:
        break;
    }
  }
}

// Runs `work`, turning a failure to allocate into a false answer.
template <typename Work>
int guarded(Viewer* viewer, Work work) {
  if (viewer == nullptr) return 0;
  viewer->output.clear();
  try {
    return work(*viewer) ? 1 : 0;
  } catch (const std::bad_alloc&) {
    viewer->output = R"({"error":{"kind":"OutOfMemory","message":"Not enough memory","line":null}})";
  } catch (const std::exception& e) {
    viewer->output = "{\"error\":{";
    put_key(viewer->output, "kind");
    put_string(viewer->output, "Internal");
    put_key(viewer->output, "message");
    put_string(viewer->output, e.what());
    viewer->output += ",\"line\":null}}";
  }
  return 0;
}

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE Viewer* viewer_new() { return new (std::nothrow) Viewer; }
EMSCRIPTEN_KEEPALIVE void viewer_delete(Viewer* viewer) { delete viewer; }

// Room for the statement's `size` bytes, which the caller copies in before
// viewer_open; null when there is no memory for them.
EMSCRIPTEN_KEEPALIVE char* viewer_input(Viewer* viewer, std::size_t size) {
  try {
    viewer->input.assign(size, '\0');
    return viewer->input.data();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

EMSCRIPTEN_KEEPALIVE int viewer_open(Viewer* viewer) { return guarded(viewer, open_statement); }

// The documents at `indices` (of the statement's documents) as `mirtle csv`
// writes them; `excel`: a byte-order mark and ';' (`mirtle csv --excel`).
EMSCRIPTEN_KEEPALIVE int viewer_csv(Viewer* viewer, const std::uint32_t* indices, std::size_t count, int excel) {
  return guarded(viewer, [&](Viewer& v) {
    mirtle::StringSink out;
    mirtle::write_csv(subset(v, {indices, count}), out, {.intervals = false, .excel = excel != 0});
    v.output.swap(out.bytes);
    return true;
  });
}

// The statement with only the documents at `indices`, as `mirtle json`
// writes a statement.
EMSCRIPTEN_KEEPALIVE int viewer_json(Viewer* viewer, const std::uint32_t* indices, std::size_t count) {
  return guarded(viewer, [&](Viewer& v) {
    mirtle::StringSink out;
    mirtle::write_json(subset(v, {indices, count}), out);
    v.output.swap(out.bytes);
    return true;
  });
}

// The section of document `index`, every key the bank wrote included.
EMSCRIPTEN_KEEPALIVE int viewer_section(Viewer* viewer, std::uint32_t index) {
  return guarded(viewer, [&](Viewer& v) {
    return index < v.document_lines.size() && section_at(v, v.document_lines[index]);
  });
}

// [[attribute name, statement key], ...] for the 53 document fields, in
// the order of the JSON objects.
EMSCRIPTEN_KEEPALIVE int viewer_fields(Viewer* viewer) {
  return guarded(viewer, [](Viewer& v) {
    v.output = "[";
    for (const auto& attribute : mirtle::kDocumentAttributes) {
      if (v.output.back() != '[') v.output += ',';
      v.output += '[';
      put_string(v.output, attribute.name);
      v.output += ',';
      put_string(v.output, mirtle::kDocumentFields[static_cast<std::size_t>(attribute.field)].key);
      v.output += ']';
    }
    v.output += ']';
    return true;
  });
}

// Frees the last answer once it has been read: a large statement's JSON is
// larger than the statement.
EMSCRIPTEN_KEEPALIVE void viewer_release(Viewer* viewer) { std::string().swap(viewer->output); }

EMSCRIPTEN_KEEPALIVE const char* viewer_output(const Viewer* viewer) { return viewer->output.data(); }
EMSCRIPTEN_KEEPALIVE std::size_t viewer_output_size(const Viewer* viewer) { return viewer->output.size(); }

}  // extern "C"
