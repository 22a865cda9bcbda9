// Section attributes as an owned ordered map: the statement header and the
// attributes a hook sees.  A repeated key keeps its first position and
// takes the last value.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mirtle {

// One key=value pair of a section, as views.
struct AttributeView {
  std::string_view key;
  std::string_view value;
};

class AttributeList;
class KeyIndex;

// An ordered map of owned key and value texts.  Lookups stay fast for maps
// of thousands of keys.
class AttributeMap {
 public:
  using Entry = std::pair<std::string, std::string>;

  AttributeMap() noexcept;
  AttributeMap(const AttributeMap& other);
  AttributeMap(AttributeMap&& other) noexcept;
  AttributeMap& operator=(const AttributeMap& other);
  AttributeMap& operator=(AttributeMap&& other) noexcept;
  ~AttributeMap();

  // Sets `key` to `value`: replaces in place when present, else appends.
  void set(std::string_view key, std::string_view value);
  void set(std::string&& key, std::string&& value);
  // The value of `key`, or nullptr.
  const std::string* find(std::string_view key) const noexcept;
  void clear() noexcept;
  // Replaces the contents with copies of `items`, whose keys are distinct,
  // in order.  Strings already in the map are reused, so a map assigned
  // section after section stops allocating once they have grown.
  void assign(std::span<const AttributeView> items);

  // The entries in order; each key occurs once.
  const std::vector<Entry>& entries() const noexcept { return entries_; }
  std::size_t size() const noexcept { return entries_.size(); }
  bool empty() const noexcept { return entries_.empty(); }

  // The same entries in the same order.
  friend bool operator==(const AttributeMap& a, const AttributeMap& b) noexcept {
    return a.entries_ == b.entries_;
  }

 private:
  std::int64_t position_of(std::string_view key) const noexcept;
  void append(std::string&& key, std::string&& value);

  std::vector<Entry> entries_;
  std::unique_ptr<KeyIndex> index_;  // made once the map outgrows a scan
};

}  // namespace mirtle
