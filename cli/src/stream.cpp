// json --lines and json --raw: the streaming forms, beside the whole
// statement of export.cpp.
#include <unistd.h>

#include <string>

#include "commands.hpp"
#include "common.hpp"
#include "document_json.hpp"
#include "mirtle/sections.hpp"
#include "progress.hpp"
#include "text_formats.hpp"

namespace mirtle_cli {


namespace {

// Thrown by the sink to stop the parse once nobody takes the output.
struct OutputStopped {};

// Writes each document as one JSON line the moment its section closes, so
// memory stays bounded whatever the statement's size.
class JsonLinesSink final : public mirtle::RecordSink {
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
    const std::string line = warning_line(name_, warning);
    [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
  }

 private:
  Output& out_;
  const std::string& name_;
  Progress& progress_;
  const DocumentJson documents_;
};

int run_json_lines(const JsonOptions& options) {
  Input input;
  if (!open_input(options.file, input)) return kFailure;
  Output out(STDOUT_FILENO, "standard output");
  Progress progress(input.bytes());
  JsonLinesSink sink(out, input.name(), progress);
  try {
    const auto parsed = mirtle::parse_records({}, input.bytes(), sink);
    progress.done();
    if (!parsed) {
      // What was already written stays: the documents before the error are sound.
      const int written = finish(out);
      report_parse_error(input.name(), parsed.error());
      return written == kSuccess ? kFailure : written;
    }
  } catch (const OutputStopped&) {
    progress.done();
  }
  return finish(out);
}

void append_raw_attributes(std::string& out, const std::vector<mirtle::RawAttribute>& attributes) {
  out += '[';
  for (std::size_t i = 0; i < attributes.size(); ++i) {
    if (i != 0) out += ',';
    out += '[';
    out += std::to_string(attributes[i].lineno);
    out += ',';
    append_json_string(out, attributes[i].key);
    out += ',';
    append_json_string(out, attributes[i].value);
    out += ']';
  }
  out += ']';
}

void append_raw_section(std::string& out, const mirtle::RawSection& section) {
  const bool document = section.kind == mirtle::SectionType::Document;
  out += document ? "{\"kind\":\"document\",\"doc_type\":" : "{\"kind\":\"account\",\"doc_type\":";
  append_json_value(out, document ? std::optional<std::string_view>(section.doc_type) : std::nullopt);
  out += ",\"start_line\":";
  out += std::to_string(section.start_line);
  out += ",\"end_line\":";
  out += std::to_string(section.end_line);
  out += ",\"attributes\":";
  append_raw_attributes(out, section.attributes);
  out += '}';
}

int run_json_raw(const JsonOptions& options) {
  Input input;
  if (!open_input(options.file, input)) return kFailure;
  auto raw = mirtle::read_sections(input.bytes());
  if (!raw) {
    report_parse_error(input.name(), raw.error());
    return kFailure;
  }
  Output out(STDOUT_FILENO, "standard output");
  std::string& b = out.buffer();
  b += "{\"encoding\":";
  append_json_string(b, encoding_name(raw->encoding));
  b += ",\"header\":";
  append_raw_attributes(b, raw->header);
  b += ",\"sections\":[";
  for (std::size_t i = 0; i < raw->sections.size() && !out.failed(); ++i) {
    if (i != 0) b += ',';
    append_raw_section(b, raw->sections[i]);
    out.maybe_flush();
  }
  b += "]}\n";
  return finish(out);
}

}  // namespace

int run_json(const JsonOptions& options) {
  if (options.raw) return run_json_raw(options);
  if (options.lines) return run_json_lines(options);
  return run_json_statement(options);
}

}  // namespace mirtle_cli
