// Helpers shared by the core tests: running a parse, encoding code points,
// and printing statements and errors in a form that is easy to compare.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mirtle/statement.hpp"
#include "mirtle/values.hpp"

namespace mirtle::testing {

inline ParseResult parse(std::string_view input, const std::vector<Hook*>& hooks = {}) {
  return parse_statement(std::span<Hook* const>(hooks.data(), hooks.size()), input);
}

// The UTF-8 form of one scalar value, written out by hand so that the tests
// do not lean on the library's own encoder.
inline std::string utf8(char32_t cp) {
  std::string out;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return out;
}

inline std::string repeat(std::string_view piece, std::size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

inline const char* context_name(ParserContext c) {
  switch (c) {
    case ParserContext::Header: return "header";
    case ParserContext::Document: return "document";
    case ParserContext::Account: return "account";
    case ParserContext::Finished: return "finished";
    case ParserContext::Init: return "init";
    case ParserContext::ReadNextSection: return "read_next_section";
  }
  return "?";
}

// One line per error, naming only the fields the kind carries.
inline std::string describe(const ParseError& e) {
  switch (e.kind) {
    case ErrorKind::InvalidDocument: return "InvalidDocument";
    case ErrorKind::Unfinished: return "Unfinished";
    case ErrorKind::NotStatement: return "NotStatement";
    case ErrorKind::EmptyInput: return "EmptyInput";
    case ErrorKind::Syntax: break;
  }
  const std::string n = std::to_string(e.lineno);
  switch (e.syntax) {
    case SyntaxKind::UnexpectedSection:
      return "UnexpectedSection(" + n + ", " + e.text + ", " + context_name(e.context) + ")";
    case SyntaxKind::UnexpectedAttribute:
      return "UnexpectedAttribute(" + n + ", " + e.text + ", " + e.value + ")";
    case SyntaxKind::UnrecognizedLine: return "UnrecognizedLine(" + n + ", " + e.text + ")";
    case SyntaxKind::MissingField:
      return "MissingField(" + n + ", " + e.text + ", " + context_name(e.context) + ")";
    case SyntaxKind::AccountParseError: return "AccountParseError(" + n + ", " + e.text + ")";
    case SyntaxKind::DocumentParseError: return "DocumentParseError(" + n + ", " + e.text + ")";
    case SyntaxKind::HookError: return "HookError(" + n + ", " + e.text + ")";
  }
  return "?";
}

inline std::string describe(const ParseResult& r) {
  return r ? std::string("ok") : describe(r.error());
}

inline std::string show(const std::optional<Date>& d) { return d ? format_date(*d) : "-"; }
inline std::string show(const std::optional<Decimal>& a) { return a ? format_amount(*a) : "-"; }

// The whole record as text: equal texts mean equal statements, written
// scales included.
inline std::string dump(const Statement& s) {
  std::string out = s.encoding == Encoding::UTF8 ? "utf-8\n" : "cp1251\n";
  for (const auto& [k, v] : s.header.entries()) out += "H " + k + "=" + v + "\n";
  for (const Account& a : s.accounts) {
    out += "A " + a.number + "\n";
    for (const Interval& i : a.intervals)
      out += "  " + format_date(i.date_start) + " " + show(i.date_end) + " " +
             format_amount(i.start_amount) + " " + show(i.end_amount) + " " + show(i.total_income) +
             " " + show(i.total_expense) + "\n";
  }
  for (const Document& d : s.documents) {
    out += "D " + format_date(d.doc_date) + " " + format_amount(d.amount) + " " + show(d.outcome_date) +
           " " + show(d.income_date);
    for (std::size_t f = 0; f < kDocFieldCount; ++f) {
      const auto t = d.text(static_cast<DocField>(f));
      out += t ? "|" + std::string(*t) : "|-";
    }
    out += "\n";
  }
  for (const Warning& w : s.warnings) out += "W " + std::to_string(w.lineno) + " " + w.message + "\n";
  return out;
}

// The twelve keys a document needs besides its type, with plausible values.
inline constexpr std::string_view kMinimalDocument =
    "Номер=17\n"
    "Дата=05.03.2024\n"
    "Сумма=1500.00\n"
    "НазначениеПлатежа=Оплата по счету 5\n"
    "ПлательщикИНН=7701000000\n"
    "ПлательщикБИК=044525000\n"
    "ПлательщикБанк1=АО Банк\n"
    "ПлательщикСчет=40702810000000000001\n"
    "ПолучательИНН=7702000000\n"
    "ПолучательСчет=40702810000000000002\n"
    "ПолучательБИК=044525001\n"
    "ПолучательБанк1=ПАО Банк\n";

// The windows-1251 characters of the bytes 0x80 to 0xFF (0x00 to 0x7F are
// ASCII).  0x98 has no letter of its own and stands for U+0098.
inline constexpr char32_t kWindows1251High[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,  // C0 А..
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,  // E0 а..
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

inline char32_t cp1251_char(unsigned char b) { return b < 0x80 ? b : kWindows1251High[b - 0x80]; }

// The scalar values of valid UTF-8 text.
inline std::vector<char32_t> code_points(std::string_view s) {
  std::vector<char32_t> out;
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const int len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    char32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    out.push_back(cp);
    i += static_cast<std::size_t>(len);
  }
  return out;
}

// UTF-8 text written in windows-1251; every character must have a byte.
inline std::string to_cp1251(std::string_view text) {
  std::string out;
  for (char32_t cp : code_points(text)) {
    int byte = -1;
    for (int b = 0; b < 256 && byte < 0; ++b)
      if (cp1251_char(static_cast<unsigned char>(b)) == cp) byte = b;
    EXPECT_GE(byte, 0) << "no windows-1251 byte for U+" << std::hex << static_cast<std::uint32_t>(cp);
    out += static_cast<char>(byte);
  }
  return out;
}

// Bytes read as windows-1251, written as UTF-8.
inline std::string from_cp1251(std::string_view bytes) {
  std::string out;
  for (char c : bytes) out += utf8(cp1251_char(static_cast<unsigned char>(c)));
  return out;
}

// A complete statement after its first line: one document, then the end.
inline const std::string kOneDocument = std::string("СекцияДокумент=Платежное поручение\n") +
                                        std::string(kMinimalDocument) + "КонецДокумента\nКонецФайла\n";
inline const std::string kStatement = "1CClientBankExchange\n" + kOneDocument;

}  // namespace mirtle::testing
