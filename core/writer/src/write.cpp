// The writer's paths: records (a Statement), the section stream held (a
// RawStatement) and the section stream as it is read, all through one
// LineOut and the same whole-text checks.
#include <algorithm>
#include <numeric>
#include <optional>
#include <span>
#include <vector>

#include "line_out.hpp"

namespace mirtle {

namespace writer {
namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// Where the next line goes, for naming it in a refusal.
struct Place {
  WriteScope scope = WriteScope::Header;
  std::size_t position = 0;
  SectionType type = SectionType::Document;

  WriteError error(WriteErrorKind kind, std::string_view key, char32_t code_point = 0) const {
    return WriteError{kind, scope, position, type, std::string(key), code_point};
  }
  WriteError error(const Refusal& refusal, std::string_view key) const {
    return error(refusal.kind, key, refusal.code_point);
  }
  void enter(std::size_t index, SectionType section_type) {
    scope = WriteScope::Section;
    position = index;
    type = section_type;
  }
};

// A header attribute, with the rule for Кодировка.
std::optional<WriteError> header_attribute(LineOut& lines, const WriteOptions& options, std::string_view key,
                                           std::string_view value) {
  const Place header;
  if (key == fixed_text(Fixed::EncodingKey)) {
    if (options.update_encoding_header) {
      value = header_name(options.encoding);
    } else if (named_encoding(value) != NamedEncoding::Unknown && !names_encoding(value, options.encoding)) {
      return header.error(WriteErrorKind::EncodingHeader, key);
    }
  }
  if (auto refused = lines.attribute(key, value)) return header.error(*refused, key);
  return std::nullopt;
}

// --- records ---------------------------------------------------------------

// The position of the first account whose number an earlier account has,
// or kNone.  Sorting positions keeps hostile statements with many accounts
// at n log n.
std::size_t first_repeated_account(const std::vector<Account>& accounts) {
  if (accounts.size() < 2) return kNone;
  std::vector<std::size_t> order(accounts.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return accounts[a].number < accounts[b].number; });
  std::size_t first = kNone;
  for (std::size_t i = 1; i < order.size(); ++i)
    if (accounts[order[i]].number == accounts[order[i - 1]].number) first = std::min(first, order[i]);
  return first;
}

// The position of the first interval of a run of equal start dates that
// repeats an earlier one by value, or kNone.  Long runs are compared
// through sorted value hashes, so that a hostile run stays n log n.
std::size_t first_repeat_in_run(std::span<const Interval> run) {
  constexpr std::size_t kPairwiseLimit = 16;
  std::size_t first = kNone;
  if (run.size() <= kPairwiseLimit) {
    for (std::size_t i = 1; i < run.size() && first == kNone; ++i)
      for (std::size_t j = 0; j < i; ++j)
        if (run[j].same_value(run[i])) {
          first = i;
          break;
        }
    return first;
  }
  std::vector<std::pair<std::uint64_t, std::size_t>> hashes;
  hashes.reserve(run.size());
  for (std::size_t i = 0; i < run.size(); ++i) hashes.emplace_back(run[i].value_hash(), i);
  std::sort(hashes.begin(), hashes.end());
  for (std::size_t g = 0; g < hashes.size();) {
    std::size_t end = g + 1;
    while (end < hashes.size() && hashes[end].first == hashes[g].first) ++end;
    for (std::size_t i = g + 1; i < end; ++i)
      for (std::size_t j = g; j < i; ++j)
        if (run[hashes[j].second].same_value(run[hashes[i].second])) first = std::min(first, hashes[i].second);
    g = end;
  }
  return first;
}

// The first interval that a reader would not give back in its place:
// out of start-date order, or a repeat it would drop.
std::optional<std::pair<std::size_t, WriteErrorKind>> first_misplaced_interval(
    const std::vector<Interval>& intervals) {
  std::size_t run_start = 0;
  for (std::size_t i = 1; i <= intervals.size(); ++i) {
    const bool run_ends = i == intervals.size() || intervals[i].date_start != intervals[run_start].date_start;
    if (!run_ends) continue;
    const std::span<const Interval> run(intervals.data() + run_start, i - run_start);
    if (const std::size_t repeat = first_repeat_in_run(run); repeat != kNone)
      return std::pair{run_start + repeat, WriteErrorKind::RepeatedInterval};
    if (i < intervals.size() && intervals[i].date_start < intervals[run_start].date_start)
      return std::pair{i, WriteErrorKind::UnsortedIntervals};
    run_start = i;
  }
  return std::nullopt;
}

class RecordsEmitter {
 public:
  explicit RecordsEmitter(const Statement& statement, const WriteOptions& options)
      : statement_(statement), options_(options) {}

  std::optional<WriteError> operator()(LineOut& lines) {
    lines.marker(Fixed::Exchange);
    for (const auto& [key, value] : statement_.header.entries())
      if (auto refused = header_attribute(lines, options_, key, value)) return refused;
    Place place;
    std::size_t section = 0;
    const std::size_t repeated_account = first_repeated_account(statement_.accounts);
    for (std::size_t a = 0; a < statement_.accounts.size(); ++a) {
      const Account& account = statement_.accounts[a];
      place.enter(section, SectionType::Account);
      const std::string_view number_key = fixed_text(Fixed::AccountNumber);
      if (account.intervals.empty()) return place.error(WriteErrorKind::EmptyAccount, number_key);
      if (a == repeated_account) return place.error(WriteErrorKind::RepeatedAccount, number_key);
      const auto misplaced = first_misplaced_interval(account.intervals);
      for (std::size_t i = 0; i < account.intervals.size(); ++i, ++section) {
        place.enter(section, SectionType::Account);
        if (misplaced && misplaced->first == i) return place.error(misplaced->second, fixed_text(Fixed::DateStart));
        if (auto refused = interval(lines, place, account.number, account.intervals[i])) return refused;
      }
    }
    for (const Document& doc : statement_.documents) {
      place.enter(section++, SectionType::Document);
      if (auto refused = document(lines, place, doc)) return refused;
    }
    if (section == 0) return Place{WriteScope::Statement}.error(WriteErrorKind::NoSection, {});
    lines.marker(Fixed::FileEnd);
    return std::nullopt;
  }

 private:
  static std::optional<WriteError> date(LineOut& lines, const Place& place, Fixed key, const Date& value) {
    if (!is_valid(value)) return place.error(WriteErrorKind::InvalidDate, fixed_text(key));
    char buf[24];
    lines.typed(key, std::string_view(buf, format_statement_date(value, buf)));
    return std::nullopt;
  }

  static std::optional<WriteError> amount(LineOut& lines, const Place& place, Fixed key, const Decimal& value) {
    if (!is_valid(value)) return place.error(WriteErrorKind::InvalidAmount, fixed_text(key));
    char buf[40];
    lines.typed(key, std::string_view(buf, format_amount(value, buf)));
    return std::nullopt;
  }

  static std::optional<WriteError> interval(LineOut& lines, const Place& place, std::string_view number,
                                            const Interval& iv) {
    lines.marker(Fixed::AccountStart);
    if (auto e = date(lines, place, Fixed::DateStart, iv.date_start)) return e;
    if (iv.date_end)
      if (auto e = date(lines, place, Fixed::DateEnd, *iv.date_end)) return e;
    if (auto refused = lines.known(Fixed::AccountNumber, number))
      return place.error(*refused, fixed_text(Fixed::AccountNumber));
    if (auto e = amount(lines, place, Fixed::StartAmount, iv.start_amount)) return e;
    const std::pair<Fixed, const std::optional<Decimal>*> optional_amounts[] = {
        {Fixed::Income, &iv.total_income}, {Fixed::Expense, &iv.total_expense}, {Fixed::EndAmount, &iv.end_amount}};
    for (const auto& [key, value] : optional_amounts)
      if (*value)
        if (auto e = amount(lines, place, key, **value)) return e;
    lines.marker(Fixed::AccountEnd);
    return std::nullopt;
  }

  static std::optional<WriteError> document(LineOut& lines, const Place& place, const Document& doc) {
    const auto& fields = document_fields();
    const std::string_view type = doc.text(DocField::Type).value_or(std::string_view());
    if (auto refused = lines.document_start(type)) return place.error(*refused, fields[1].key);
    for (std::size_t f = 0; f < kDocFieldCount; ++f) {
      const auto field = static_cast<DocField>(f);
      if (field == DocField::Type) continue;
      std::optional<WriteError> refused;
      switch (fields[f].kind) {
        case FieldKind::Text:
        case FieldKind::OptionalText:
          if (const auto text = doc.text(field))
            if (auto r = lines.known(fixed_of(field), *text)) refused = place.error(*r, fields[f].key);
          break;
        case FieldKind::Date: refused = date(lines, place, fixed_of(field), doc.doc_date); break;
        case FieldKind::OptionalDate: {
          const std::optional<Date>& value = field == DocField::OutcomeDate ? doc.outcome_date : doc.income_date;
          if (value) refused = date(lines, place, fixed_of(field), *value);
          break;
        }
        case FieldKind::Amount: refused = amount(lines, place, fixed_of(field), doc.amount); break;
      }
      if (refused) return refused;
    }
    lines.marker(Fixed::DocumentEnd);
    return std::nullopt;
  }

  const Statement& statement_;
  const WriteOptions& options_;
};

// --- section stream ----------------------------------------------------------

class SectionsEmitter {
 public:
  SectionsEmitter(const RawStatement& statement, const WriteOptions& options)
      : statement_(statement), options_(options) {}

  std::optional<WriteError> operator()(LineOut& lines) {
    lines.marker(Fixed::Exchange);
    for (const RawAttribute& a : statement_.header)
      if (auto refused = header_attribute(lines, options_, a.key, a.value)) return refused;
    if (statement_.sections.empty()) return Place{WriteScope::Statement}.error(WriteErrorKind::NoSection, {});
    Place place;
    for (std::size_t s = 0; s < statement_.sections.size(); ++s) {
      const RawSection& section = statement_.sections[s];
      place.enter(s, section.type);
      const bool is_account = section.type == SectionType::Account;
      if (is_account) {
        lines.marker(Fixed::AccountStart);
      } else if (auto refused = lines.document_start(section.doc_type)) {
        return place.error(*refused, fixed_text(Fixed::DocumentStart));
      }
      for (const RawAttribute& a : section.attributes)
        if (auto refused = lines.attribute(a.key, a.value)) return place.error(*refused, a.key);
      lines.marker(is_account ? Fixed::AccountEnd : Fixed::DocumentEnd);
    }
    lines.marker(Fixed::FileEnd);
    return std::nullopt;
  }

 private:
  const RawStatement& statement_;
  const WriteOptions& options_;
};

// The section stream's events as they come; the same lines and refusals
// as SectionsEmitter over the statement the stream reads.
class StreamEmitter {
 public:
  StreamEmitter(LineOut& lines, const WriteOptions& options, const HeaderValue& header_value)
      : lines_(lines), options_(options), header_value_(header_value) {
    lines_.marker(Fixed::Exchange);
  }

  std::optional<WriteError> take(const SectionEvent& e) {
    switch (e.kind) {
      case EventKind::HeaderAttribute: return header(e);
      case EventKind::SectionStart:
        place_.enter(sections_++, e.section_type);
        if (e.section_type == SectionType::Account) {
          lines_.marker(Fixed::AccountStart);
        } else if (auto refused = lines_.document_start(e.value)) {
          return place_.error(*refused, fixed_text(Fixed::DocumentStart));
        }
        return std::nullopt;
      case EventKind::SectionAttribute:
        if (auto refused = lines_.attribute(e.key, e.value)) return place_.error(*refused, e.key);
        return std::nullopt;
      case EventKind::SectionEnd:
        lines_.marker(e.section_type == SectionType::Account ? Fixed::AccountEnd : Fixed::DocumentEnd);
        return std::nullopt;
      case EventKind::End:
        if (sections_ == 0) return Place{WriteScope::Statement}.error(WriteErrorKind::NoSection, {});
        lines_.marker(Fixed::FileEnd);
        return std::nullopt;
      case EventKind::Start: return std::nullopt;
    }
    return std::nullopt;
  }

 private:
  // The stream's texts are well-formed UTF-8, as a reader gives them; a
  // value put in their place is checked as it is written, as no whole-text
  // check after the stream can name it.
  std::optional<WriteError> header(const SectionEvent& e) {
    if (!header_value_) return header_attribute(lines_, options_, e.key, e.value);
    const std::string_view value = header_value_(e);
    const bool replaced = value.data() != e.value.data() || value.size() != e.value.size();
    lines_.check_utf8_each(replaced);
    auto refused = header_attribute(lines_, options_, e.key, value);
    lines_.check_utf8_each(false);
    return refused;
  }

  LineOut& lines_;
  const WriteOptions& options_;
  const HeaderValue& header_value_;
  Place place_;
  std::size_t sections_ = 0;
};

// Emits, runs the whole-text checks and leaves `out` as it was on failure.
// UTF-8 output is validated as a whole, which is fast; only when that fails
// is it written again with each text validated, to name the bad one.
template <typename Emitter>
Result<Ok, WriteError> run(const WriteOptions& options, std::string& out, Emitter&& emit) {
  const std::size_t start = out.size();
  std::optional<WriteError> refused;
  {
    LineOut lines(options, out, false);
    refused = emit(lines);
  }
  if (!refused) {
    if (const auto whole = check_whole_text(out, start, options.encoding)) {
      if (*whole == WriteErrorKind::InvalidUtf8) {
        out.resize(start);
        LineOut lines(options, out, true);
        refused = emit(lines);
      }
      if (!refused) refused = Place{WriteScope::Statement}.error(*whole, {});
    }
  }
  if (refused) {
    out.resize(start);
    return fail(std::move(*refused));
  }
  return Ok{};
}

template <typename Input>
Result<std::string, WriteError> into_string(const Input& input, const WriteOptions& options,
                                            Result<Ok, WriteError> (*write)(const Input&, const WriteOptions&,
                                                                            std::string&)) {
  std::string out;
  auto written = write(input, options, out);
  if (!written) return fail(std::move(written).error());
  return out;
}

}  // namespace
}  // namespace writer

Result<Ok, WriteError> write_statement(const Statement& statement, const WriteOptions& options, std::string& out) {
  return writer::run(options, out, writer::RecordsEmitter(statement, options));
}

Result<Ok, WriteError> write_sections(const RawStatement& statement, const WriteOptions& options,
                                      std::string& out) {
  return writer::run(options, out, writer::SectionsEmitter(statement, options));
}

Result<Ok, StreamWriteError> write_stream(SectionStream& stream, const WriteOptions& options, std::string& out,
                                          const HeaderValue& header_value) {
  const std::size_t start = out.size();
  std::optional<WriteError> refused;
  {
    writer::LineOut lines(options, out, false);
    writer::StreamEmitter emit(lines, options, header_value);
    SectionEvent event;
    for (;;) {
      auto more = stream.next(event);
      if (!more) {
        out.resize(start);
        return fail(StreamWriteError(std::move(more).error()));
      }
      if (!*more) break;
      // After a refusal the stream is still read, for a reader's error.
      if (!refused) refused = emit.take(event);
    }
  }
  if (!refused)
    if (const auto whole = writer::check_whole_text(out, start, options.encoding))
      refused = writer::Place{WriteScope::Statement}.error(*whole, {});
  if (refused) {
    out.resize(start);
    return fail(StreamWriteError(std::move(*refused)));
  }
  return Ok{};
}

Result<std::string, WriteError> write_statement(const Statement& statement, const WriteOptions& options) {
  return writer::into_string<Statement>(statement, options, &write_statement);
}

Result<std::string, WriteError> write_sections(const RawStatement& statement, const WriteOptions& options) {
  return writer::into_string<RawStatement>(statement, options, &write_sections);
}

}  // namespace mirtle
