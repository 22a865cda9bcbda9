// A document as one compact JSON object, members named and ordered as the
// Python module's Document attributes.
#pragma once

#include <array>
#include <string>

#include "fields.hpp"
#include "text_formats.hpp"

namespace mirtle_cli {

// The `,"name":` before each document value, made once per run.
class DocumentJson {
 public:
  DocumentJson() {
    for (std::size_t i = 0; i < kDocAttributes.size(); ++i)
      prefixes_[i] = (i == 0 ? "{\"" : ",\"") + std::string(kDocAttributes[i].name) + "\":";
  }

  void append(std::string& out, const mirtle::Document& document) const {
    ValueScratch scratch;
    for (std::size_t i = 0; i < kDocAttributes.size(); ++i) {
      out += prefixes_[i];
      append_json_value(out, attribute_text(document, kDocAttributes[i], scratch));
    }
    out += '}';
  }

 private:
  std::array<std::string, mirtle::kDocFieldCount> prefixes_;
};

}  // namespace mirtle_cli
