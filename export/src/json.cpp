// JSON: the statement as one object, its documents as JSON Lines, and the
// section stream.
#include <array>
#include <optional>
#include <string>

#include "account_bound.hpp"
#include "block_out.hpp"
#include "document_json.hpp"
#include "fields.hpp"
#include "mirtle/accounts.hpp"
#include "mirtle/export.hpp"
#include "spill.hpp"
#include "text_formats.hpp"

namespace mirtle {

namespace exporting {
namespace {

void append_interval_json(std::string& out, const Interval& interval) {
  std::array<ValueScratch, 6> scratch;
  const auto texts = interval_texts(interval, scratch);
  for (std::size_t i = 0; i < texts.size(); ++i) {
    out += i == 0 ? "{\"" : ",\"";
    out += kIntervalAttributes[i].name;
    out += "\":";
    append_json_value(out, texts[i]);
  }
  out += '}';
}

void append_header_json(std::string& out, const AttributeMap& header) {
  out += '{';
  const char* separator = "";
  for (const auto& [key, value] : header.entries()) {
    out += separator;
    append_json_string(out, key);
    out += ':';
    append_json_string(out, value);
    separator = ",";
  }
  out += '}';
}

void append_accounts_json(std::string& out, const std::vector<Account>& accounts) {
  out += '{';
  const char* separator = "";
  for (const Account& account : accounts) {
    out += separator;
    append_json_string(out, account.number);
    out += ":[";
    for (std::size_t i = 0; i < account.intervals.size(); ++i) {
      if (i != 0) out += ',';
      append_interval_json(out, account.intervals[i]);
    }
    out += ']';
    separator = ",";
  }
  out += '}';
}

// Everything before the first document: the object's first three members.
void write_front(BlockOut& out, Encoding encoding, const AttributeMap& header, const std::vector<Account>& accounts) {
  std::string& b = out.buffer();
  b += "{\"encoding\":";
  append_json_string(b, name(encoding));
  b += ",\"header\":";
  append_header_json(b, header);
  b += ",\"accounts\":";
  append_accounts_json(b, accounts);
  b += ",\"documents\":[";
  out.maybe_flush();
}

// Everything after the last document.
void write_tail(BlockOut& out, const std::vector<Warning>& warnings) {
  std::string& b = out.buffer();
  b += "],\"warnings\":[";
  for (std::size_t i = 0; i < warnings.size(); ++i) {
    if (i != 0) b += ',';
    b += "{\"lineno\":";
    b += std::to_string(warnings[i].lineno);
    b += ",\"message\":";
    append_json_string(b, warnings[i].message);
    b += '}';
    out.maybe_flush();
  }
  b += "]}\n";
  out.flush();
}

// Writes the statement object while the records stream by.  Documents go
// straight out once the accounts are complete; before then they wait in a
// spill (see account_bound.hpp for how "complete" is known early).
class JsonWriter final : public RecordWriter {
 public:
  JsonWriter(ByteSink& sink, std::string_view input) : out_(sink), bound_(input) {}

  void on_header(Encoding encoding, const AttributeMap& header) override {
    encoding_ = encoding;
    header_ = header;
    bound_.set_encoding(encoding);
  }
  void on_interval(std::string_view account, Interval&& interval, LineNo) override {
    accounts_.add_interval(account, std::move(interval));
    ++account_sections_;
    // Documents already waiting are let go as soon as the accounts are known.
    if (documents_written_ != 0 && !front_written_ && bound_.all_read(account_sections_)) write_front_now();
  }
  void on_document(Document&& document, LineNo) override {
    if (!front_written_ && bound_.all_read(account_sections_)) write_front_now();
    std::string& b = front_written_ ? out_.buffer() : waiting_.buffer();
    if (documents_written_++ != 0) b += ',';
    documents_.append(b, document);
    if (front_written_) {
      out_.maybe_flush();
    } else {
      waiting_.maybe_spill();
    }
  }
  void on_warning(Warning&& warning) override { warnings_.push_back(std::move(warning)); }

  void finish() override {
    if (!front_written_) write_front_now();
    write_tail(out_, warnings_);
  }
  void flush() override { out_.flush(); }

 private:
  void write_front_now() {
    write_front(out_, encoding_, header_, accounts_.finish());
    waiting_.drain_to(out_);
    front_written_ = true;
  }

  BlockOut out_;
  AccountSectionBound bound_;
  bool front_written_ = false;
  Encoding encoding_ = Encoding::UTF8;
  AttributeMap header_;
  AccountBook accounts_;
  std::size_t account_sections_ = 0;
  DocumentJson documents_;
  std::size_t documents_written_ = 0;
  Spill waiting_;  // documents read before the accounts were complete
  std::vector<Warning> warnings_;
};

class JsonLinesWriter final : public RecordWriter {
 public:
  explicit JsonLinesWriter(ByteSink& sink) : out_(sink) {}

  void on_header(Encoding, const AttributeMap&) override {}
  void on_interval(std::string_view, Interval&&, LineNo) override {}
  void on_document(Document&& document, LineNo) override { add(document); }
  void on_warning(Warning&&) override {}
  void finish() override { out_.flush(); }
  void flush() override { out_.flush(); }

  void add(const Document& document) {
    documents_.append(out_.buffer(), document);
    out_.buffer() += '\n';
    out_.maybe_flush();
  }

 private:
  BlockOut out_;
  DocumentJson documents_;
};

void append_raw_attribute(std::string& out, LineNo lineno, std::string_view key, std::string_view value) {
  out += '[';
  out += std::to_string(lineno);
  out += ',';
  append_json_string(out, key);
  out += ',';
  append_json_string(out, value);
  out += ']';
}

// Writes the section stream.  A section's object names its end line before
// its attributes, so the attributes wait, as views valid until the section
// has closed, until its closing line.
class SectionsJson {
 public:
  explicit SectionsJson(ByteSink& sink) : out_(sink) {}

  void start(Encoding encoding) {
    out_.buffer() += "{\"encoding\":";
    append_json_string(out_.buffer(), name(encoding));
    out_.buffer() += ",\"header\":[";
  }

  void header_attribute(LineNo lineno, std::string_view key, std::string_view value) {
    if (header_count_++ != 0) out_.buffer() += ',';
    append_raw_attribute(out_.buffer(), lineno, key, value);
    out_.maybe_flush();
  }

  void take(const SectionEvent& e) {
    switch (e.kind) {
      case EventKind::HeaderAttribute: header_attribute(e.lineno, e.key, e.value); break;
      case EventKind::SectionStart:
        open_sections();
        section_ = e;
        attributes_.clear();
        break;
      case EventKind::SectionAttribute: attributes_.push_back({e.lineno, e.key, e.value}); break;
      case EventKind::SectionEnd:
        section(section_.section_type, section_.value, section_.lineno, e.lineno, attributes_);
        break;
      case EventKind::Start:
      case EventKind::End: break;
    }
  }

  struct Attribute {
    LineNo lineno;
    std::string_view key;
    std::string_view value;
  };

  void section(SectionType kind, std::string_view doc_type, LineNo start_line, LineNo end_line,
               const std::vector<Attribute>& attributes) {
    open_sections();
    std::string& b = out_.buffer();
    if (section_count_++ != 0) b += ',';
    const bool document = kind == SectionType::Document;
    b += document ? "{\"kind\":\"document\",\"doc_type\":" : "{\"kind\":\"account\",\"doc_type\":";
    append_json_value(b, document ? std::optional<std::string_view>(doc_type) : std::nullopt);
    b += ",\"start_line\":";
    b += std::to_string(start_line);
    b += ",\"end_line\":";
    b += std::to_string(end_line);
    b += ",\"attributes\":[";
    for (std::size_t i = 0; i < attributes.size(); ++i) {
      if (i != 0) b += ',';
      append_raw_attribute(b, attributes[i].lineno, attributes[i].key, attributes[i].value);
    }
    b += "]}";
    out_.maybe_flush();
  }

  void finish() {
    open_sections();
    out_.buffer() += "]}\n";
    out_.flush();
  }
  // What was written before an error stays.
  void stop() { out_.flush(); }

 private:
  void open_sections() {
    if (sections_open_) return;
    out_.buffer() += "],\"sections\":[";
    sections_open_ = true;
  }

  BlockOut out_;
  std::size_t header_count_ = 0;
  std::size_t section_count_ = 0;
  bool sections_open_ = false;
  SectionEvent section_;               // the open section's start line
  std::vector<Attribute> attributes_;  // its attributes so far
};

}  // namespace
}  // namespace exporting

using namespace exporting;

Result<Ok, ParseError> export_records(std::string_view input, RecordWriter& writer) {
  auto parsed = parse_records({}, input, writer);
  if (!parsed) {
    writer.flush();
    return parsed;
  }
  writer.finish();
  return Ok{};
}

std::unique_ptr<RecordWriter> json_writer(ByteSink& out, std::string_view input) {
  return std::make_unique<JsonWriter>(out, input);
}

void write_json(const Statement& statement, ByteSink& sink) {
  BlockOut out(sink);
  write_front(out, statement.encoding, statement.header, statement.accounts);
  DocumentJson documents;
  for (std::size_t i = 0; i < statement.documents.size(); ++i) {
    if (i != 0) out.buffer() += ',';
    documents.append(out.buffer(), statement.documents[i]);
    out.maybe_flush();
  }
  write_tail(out, statement.warnings);
}

std::unique_ptr<RecordWriter> json_lines_writer(ByteSink& out) { return std::make_unique<JsonLinesWriter>(out); }

void write_json_lines(const Statement& statement, ByteSink& sink) {
  JsonLinesWriter writer(sink);
  for (const Document& document : statement.documents) writer.add(document);
  writer.finish();
}

Result<Ok, ParseError> write_sections_json(std::string_view input, ByteSink& sink) {
  auto stream = SectionStream::open(input);
  if (!stream) return fail(std::move(stream).error());
  SectionsJson writer(sink);
  writer.start(stream->encoding());
  SectionEvent event;
  for (;;) {
    auto more = stream->next(event);
    if (!more) {
      writer.stop();
      return fail(std::move(more).error());
    }
    if (!*more) break;
    writer.take(event);
  }
  writer.finish();
  return Ok{};
}

void write_sections_json(const RawStatement& statement, ByteSink& sink) {
  SectionsJson writer(sink);
  writer.start(statement.encoding);
  for (const RawAttribute& a : statement.header) writer.header_attribute(a.lineno, a.key, a.value);
  std::vector<SectionsJson::Attribute> attributes;
  for (const RawSection& s : statement.sections) {
    attributes.clear();
    for (const RawAttribute& a : s.attributes) attributes.push_back({a.lineno, a.key, a.value});
    writer.section(s.type, s.doc_type, s.start_line, s.end_line, attributes);
  }
  writer.finish();
}

}  // namespace mirtle
