// The names under which the writers show a document's 53 values, in the
// order the Python module's Document class defines them, and the text of
// each value.
#pragma once

#include <array>
#include <optional>
#include <string_view>

#include "mirtle/records.hpp"

namespace mirtle::exporting {

using mirtle::DocAttribute;

// The 53 attributes in the order the Python module's Document class shows them.
inline const std::array<DocAttribute, mirtle::kDocFieldCount>& kDocAttributes = mirtle::document_attributes();

using mirtle::kIntervalAttributes;

// Room for the longest value text that is not a field's own text: a date
// (at most 16 bytes) or an amount (at most 32).
using ValueScratch = std::array<char, 32>;

// The attribute's text, nullopt when absent.  Typed values are written into
// `scratch`, which the result may point into.
std::optional<std::string_view> attribute_text(const mirtle::Document& document, const DocAttribute& attribute,
                                               ValueScratch& scratch) noexcept;

// The interval's six values in the order above, as texts or nullopt.
std::array<std::optional<std::string_view>, 6> interval_texts(const mirtle::Interval& interval,
                                                             std::array<ValueScratch, 6>& scratch) noexcept;

}  // namespace mirtle::exporting
