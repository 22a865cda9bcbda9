// The one place where a writer refusal becomes text.
#include <cstdio>

#include "mirtle/writer.hpp"
#include "mirtle/quote.hpp"
#include "mirtle/unicode.hpp"

namespace mirtle {

namespace {

constexpr std::string_view kUseUtf8 = "; write UTF-8 instead";

std::string_view reason(WriteErrorKind kind) noexcept {
  switch (kind) {
    case WriteErrorKind::LineBreakInKey: return "the key holds a line feed or a carriage return";
    case WriteErrorKind::LineBreakInValue: return "the value holds a line feed or a carriage return";
    case WriteErrorKind::EmptyKey: return "the key is empty";
    case WriteErrorKind::EqualsInKey: return "the key holds \"=\", which would end it early";
    case WriteErrorKind::SpaceAroundKey: return "the key has white space at its start or end, which a reader would trim";
    case WriteErrorKind::SpaceAroundValue:
      return "the value has white space at its start or end, which a reader would trim";
    case WriteErrorKind::KeywordKey: return "the key is a keyword of the format";
    case WriteErrorKind::InvalidUtf8: return "the text is not well-formed UTF-8";
    case WriteErrorKind::NotInWindows1251: return "has no windows-1251 form";
    case WriteErrorKind::ImplausibleWindows1251:
      return " characters would be control characters or in U+0080..U+03FF, "
             "so a reader would not take the text for windows-1251";
    case WriteErrorKind::EncodingHeader: return "the value names another encoding than the output's";
    case WriteErrorKind::NoSection: return "there is no section to write, and a reader refuses a statement without one";
    case WriteErrorKind::InvalidDate: return "the date does not exist in the calendar or its year is out of range";
    case WriteErrorKind::InvalidAmount: return "the amount has a scale above 28 or is a negative zero";
    case WriteErrorKind::UnsortedIntervals:
      return "the interval starts before the one written before it, and a reader would reorder them";
    case WriteErrorKind::RepeatedInterval:
      return "the interval equals an earlier one of the same account, and a reader would drop it";
    case WriteErrorKind::RepeatedAccount:
      return "the account number is that of an earlier account, and a reader would merge them";
    case WriteErrorKind::EmptyAccount: return "the account has no interval, so it has no section to be written in";
  }
  return "unknown reason";
}

bool suggests_utf8(WriteErrorKind kind) noexcept {
  return kind == WriteErrorKind::NotInWindows1251 || kind == WriteErrorKind::ImplausibleWindows1251;
}

void append_place(std::string& out, const WriteError& error) {
  switch (error.scope) {
    case WriteScope::Statement: out += "the statement"; break;
    case WriteScope::Header: out += "the header"; break;
    case WriteScope::Section:
      out += "section ";
      out += std::to_string(error.position);
      out += error.section_type == SectionType::Account ? " (account)" : " (document)";
      break;
  }
}

void append_key(std::string& out, std::string_view key) {
  out += ", key ";
  if (text::is_valid_utf8(key.data(), key.data() + key.size())) {
    append_quoted(out, key);
  } else {
    out += "(not well-formed UTF-8)";
  }
}

}  // namespace

std::string message(const WriteError& error) {
  std::string out;
  append_place(out, error);
  if (!error.key.empty()) append_key(out, error.key);
  out += ": ";
  if (error.kind == WriteErrorKind::NotInWindows1251) {
    char cp[16];
    std::snprintf(cp, sizeof cp, "U+%04X ", static_cast<unsigned>(error.code_point));
    out += "the character ";
    out += cp;
  }
  if (error.kind == WriteErrorKind::ImplausibleWindows1251) {
    out += "more than 4% of the first ";
    out += std::to_string(kPlausibilitySample);
  }
  out += reason(error.kind);
  if (suggests_utf8(error.kind)) out += kUseUtf8;
  if (error.kind == WriteErrorKind::EncodingHeader)
    out += "; write the other encoding, or have the writer update the header";
  return out;
}

}  // namespace mirtle
