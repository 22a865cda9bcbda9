// A build without the spreadsheet library: XLSX is not available.
#include "mirtle/export.hpp"

namespace mirtle {

namespace {
[[noreturn]] void unavailable() { throw ExportError("XLSX is not available: built without libxlsxwriter"); }
}  // namespace

bool xlsx_available() noexcept { return false; }

std::unique_ptr<RecordWriter> xlsx_writer(ByteSink&, const XlsxOptions&, std::string_view) { unavailable(); }

void write_xlsx(const Statement&, ByteSink&, const XlsxOptions&, const RecordLines&) { unavailable(); }

}  // namespace mirtle
