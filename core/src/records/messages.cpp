// Every failure text of the value readers and the record builders.
#include "mirtle/values.hpp"
#include "records/builders.hpp"
#include "text/quote.hpp"

namespace mirtle {

namespace {

std::string field_text(std::string_view words, std::string_view key) {
  std::string text(words);
  text += " `";
  text += key;
  text += '`';
  return text;
}

}  // namespace

std::string message(ValueError error, std::string_view text) {
  switch (error) {
    case ValueError::EmptyDate: return "empty string is not a valid date";
    case ValueError::OutOfRange: return "input is out of range";
    case ValueError::InvalidCharacters: return "input contains invalid characters";
    case ValueError::PrematureEnd: return "premature end of input";
    case ValueError::TrailingInput: return "trailing input";
    case ValueError::InvalidAmount: break;
  }
  std::string out = "invalid value: string ";
  append_quoted(out, text);
  out += ", expected a Decimal type representing a fixed-point number";
  return out;
}

std::string message(const BuildFailure& failure) {
  switch (failure.cause) {
    case BuildFailure::Cause::MissingField: return field_text("missing field", failure.subject);
    case BuildFailure::Cause::DuplicateField: return field_text("duplicate field", failure.subject);
    case BuildFailure::Cause::Value: break;
  }
  return message(failure.value, failure.subject);
}

}  // namespace mirtle
