// json --lines and json --raw: the streaming forms, beside the whole
// statement of export.cpp.
#include <string>

#include "commands.hpp"
#include "common.hpp"
#include "document_json.hpp"
#include "mirtle/sections.hpp"
#include "progress.hpp"
#include "text_formats.hpp"

namespace mirtle_cli {


namespace {

// Writes each document as one JSON line the moment its section closes, so
// memory stays bounded whatever the statement's size.
class JsonLinesSink final : public WritingSink {
 public:
  JsonLinesSink(Output& out, const std::string& name, Progress& progress)
      : out_(out), name_(name), progress_(progress) {}

  void on_header(mirtle::Encoding, const mirtle::AttributeMap&) override {}
  void on_interval(std::string_view, mirtle::Interval&&, mirtle::LineNo) override { progress_.advance(); }
  void on_document(mirtle::Document&& document, mirtle::LineNo) override {
    progress_.advance();
    documents_.append(out_.buffer(), document);
    out_.buffer() += '\n';
    out_.maybe_flush();
    if (out_.failed()) throw OutputStopped{};
  }
  void on_warning(mirtle::Warning&& warning) override {
    progress_.advance();
    report_warning(progress_, name_, warning);
  }

 private:
  Output& out_;
  const std::string& name_;
  Progress& progress_;
  DocumentJson documents_;
};

int run_json_lines(const JsonOptions& options) {
  Input input;
  if (!open_input(options.file, input)) return kFailure;
  Output out = Output::standard();
  Progress progress(input.bytes());
  JsonLinesSink sink(out, input.name(), progress);
  return write_records(input, out, progress, sink);
}

void append_raw_attribute(std::string& out, mirtle::LineNo lineno, std::string_view key, std::string_view value) {
  out += '[';
  out += std::to_string(lineno);
  out += ',';
  append_json_string(out, key);
  out += ',';
  append_json_string(out, value);
  out += ']';
}

// Writes the section stream as it is read.  A section's object names its
// end line before its attributes, so the attributes wait, as views into the
// text (valid until the section has closed), until the closing line.
class RawJsonWriter {
 public:
  explicit RawJsonWriter(Output& out) : out_(out) {}

  void start(mirtle::Encoding encoding) {
    out_.buffer() += "{\"encoding\":";
    append_json_string(out_.buffer(), encoding_name(encoding));
    out_.buffer() += ",\"header\":[";
  }

  void take(const mirtle::SectionEvent& e) {
    switch (e.kind) {
      case mirtle::EventKind::HeaderAttribute:
        if (header_count_++ != 0) out_.buffer() += ',';
        append_raw_attribute(out_.buffer(), e.lineno, e.key, e.value);
        break;
      case mirtle::EventKind::SectionStart:
        open_sections();
        section_ = e;
        attributes_.clear();
        break;
      case mirtle::EventKind::SectionAttribute:
        attributes_.push_back(e);
        break;
      case mirtle::EventKind::SectionEnd:
        write_section(e.lineno);
        break;
      case mirtle::EventKind::Start:
      case mirtle::EventKind::End:
        break;
    }
  }

  void finish() {
    open_sections();
    out_.buffer() += "]}\n";
  }

 private:
  void open_sections() {
    if (sections_open_) return;
    out_.buffer() += "],\"sections\":[";
    sections_open_ = true;
  }

  void write_section(mirtle::LineNo end_line) {
    std::string& b = out_.buffer();
    if (section_count_++ != 0) b += ',';
    const bool document = section_.section_type == mirtle::SectionType::Document;
    b += document ? "{\"kind\":\"document\",\"doc_type\":" : "{\"kind\":\"account\",\"doc_type\":";
    append_json_value(b, document ? std::optional<std::string_view>(section_.value) : std::nullopt);
    b += ",\"start_line\":";
    b += std::to_string(section_.lineno);
    b += ",\"end_line\":";
    b += std::to_string(end_line);
    b += ",\"attributes\":[";
    for (std::size_t i = 0; i < attributes_.size(); ++i) {
      if (i != 0) b += ',';
      append_raw_attribute(b, attributes_[i].lineno, attributes_[i].key, attributes_[i].value);
    }
    b += "]}";
    out_.maybe_flush();
  }

  Output& out_;
  std::size_t header_count_ = 0;
  std::size_t section_count_ = 0;
  bool sections_open_ = false;
  mirtle::SectionEvent section_;                   // the open section's start line
  std::vector<mirtle::SectionEvent> attributes_;  // its attributes so far
};

int run_json_raw(const JsonOptions& options) {
  Input input;
  if (!open_input(options.file, input)) return kFailure;
  auto stream = mirtle::SectionStream::open(input.bytes());
  if (!stream) {
    report_parse_error(input.name(), stream.error());
    return kFailure;
  }
  Output out = Output::standard();
  RawJsonWriter writer(out);
  writer.start(stream->encoding());
  mirtle::SectionEvent event;
  for (;;) {
    auto more = stream->next(event);
    if (!more) {
      // What was written stays: the sections before the error are sound.
      const int written = finish(out);
      report_parse_error(input.name(), more.error());
      return written == kSuccess ? kFailure : written;
    }
    if (!*more || out.failed()) break;
    writer.take(event);
  }
  writer.finish();
  return finish(out);
}

}  // namespace

int run_json(const JsonOptions& options) {
  if (options.raw) return run_json_raw(options);
  if (options.lines) return run_json_lines(options);
  return run_json_statement(options);
}

}  // namespace mirtle_cli
