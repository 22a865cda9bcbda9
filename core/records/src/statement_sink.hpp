// The sink that collects one statement's records.
#pragma once

#include <string_view>
#include <utility>

#include "mirtle/sections.hpp"
#include "mirtle/statement.hpp"
#include "builders.hpp"
#include "mirtle/accounts.hpp"

namespace mirtle {

// Room for one document is reserved for every this many bytes of input, so
// that the statement's vector seldom grows (a document takes 1 to 1.7 KB):
// each growth moves every document into newly mapped memory.  Room left
// unused is address space more than memory: pages never written are never
// mapped in.
inline constexpr std::size_t kDocumentBytes = 1024;

// Collects the records of one statement; intervals are filed (sorted, with
// repeats dropped) as they come.
class StatementSink final : public RecordSink {
 public:
  explicit StatementSink(std::size_t input_size) {
    statement_.documents.reserve(input_size / kDocumentBytes);
  }
  void on_header(Encoding encoding, const AttributeMap&) override { statement_.encoding = encoding; }
  void on_interval(std::string_view account, Interval&& interval, LineNo) override {
    accounts_.add_interval(account, interval);
  }
  void on_document(Document&& document, LineNo) override {
    statement_.documents.push_back(std::move(document));
  }
  void on_warning(Warning&& warning) override { statement_.warnings.push_back(std::move(warning)); }

  Statement finish(AttributeMap&& header) {
    statement_.header = std::move(header);
    statement_.accounts = accounts_.finish();
    return std::move(statement_);
  }

 private:
  Statement statement_;
  AccountBook accounts_;
};

}  // namespace mirtle
