// The failure texts of the record builders.
#include "builders.hpp"
#include "mirtle/message.hpp"

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

std::string message(const BuildFailure& failure) {
  switch (failure.cause) {
    case BuildFailure::Cause::MissingField: return field_text("missing field", failure.subject);
    case BuildFailure::Cause::DuplicateField: return field_text("duplicate field", failure.subject);
    case BuildFailure::Cause::Value: break;
  }
  return message(failure.value, failure.subject);
}

}  // namespace mirtle
