#include "mirtle/attrs.hpp"

#include "attribute_list.hpp"
#include "key_index.hpp"

#include <algorithm>
#include <cstring>

namespace mirtle {

std::uint64_t AttributeList::tag_of(std::string_view key) noexcept {
  std::uint64_t tail = 0;
  if (key.size() >= 8) {
    std::memcpy(&tail, key.data() + key.size() - 8, 8);
    tail >>= 8;
  } else {
    for (const char c : key) tail = (tail << 8) | static_cast<unsigned char>(c);
  }
  return (tail << 8) | (key.size() & 0xFF);
}

std::int64_t AttributeList::scan(std::string_view key, std::uint64_t tag) const noexcept {
  const unsigned first = first_with_bits_[bits_of(tag)];
  if (first == 0) return -1;
  if (tags_[first - 1] == tag && items_[first - 1].key == key) return first - 1;
  for (std::size_t i = first; i < tags_.size(); ++i)
    if (tags_[i] == tag && items_[i].key == key) return static_cast<std::int64_t>(i);
  return -1;
}

void AttributeList::set(std::string_view key, std::string_view value) {
  auto key_at = [this](std::uint32_t i) { return items_[i].key; };
  const std::uint64_t tag = index_.active() ? 0 : tag_of(key);
  const std::int64_t pos = index_.active() ? index_.find(key, key_at) : scan(key, tag);
  if (pos >= 0) {
    items_[static_cast<std::size_t>(pos)].value = value;
    return;
  }
  add(key, value, tag);
}

void AttributeList::append(std::string_view key, std::string_view value) {
  add(key, value, index_.active() ? 0 : tag_of(key));
}

void AttributeList::add(std::string_view key, std::string_view value, std::uint64_t tag) {
  auto key_at = [this](std::uint32_t i) { return items_[i].key; };
  items_.push_back({key, value});
  if (index_.active()) {
    index_.insert(key, static_cast<std::uint32_t>(items_.size() - 1), key_at);
  } else if (items_.size() > kScanLimit) {
    index_.build(items_.size(), key_at);
  } else {
    std::uint8_t& first = first_with_bits_[bits_of(tag)];
    if (first == 0) first = static_cast<std::uint8_t>(items_.size());
    tags_.push_back(tag);
  }
}

const std::string_view* AttributeList::find(std::string_view key) const noexcept {
  const std::int64_t pos = index_.active()
                               ? index_.find(key, [this](std::uint32_t i) { return items_[i].key; })
                               : scan(key, tag_of(key));
  return pos >= 0 ? &items_[static_cast<std::size_t>(pos)].value : nullptr;
}

AttributeMap::AttributeMap() noexcept = default;
AttributeMap::AttributeMap(AttributeMap&& other) noexcept = default;
AttributeMap& AttributeMap::operator=(AttributeMap&& other) noexcept = default;
AttributeMap::~AttributeMap() = default;

AttributeMap::AttributeMap(const AttributeMap& other) : entries_(other.entries_) {
  if (other.index_) index_ = std::make_unique<KeyIndex>(*other.index_);
}

AttributeMap& AttributeMap::operator=(const AttributeMap& other) {
  if (this != &other) *this = AttributeMap(other);
  return *this;
}

void AttributeMap::clear() noexcept {
  entries_.clear();
  index_.reset();
}

std::int64_t AttributeMap::position_of(std::string_view key) const noexcept {
  if (index_)
    return index_->find(key, [this](std::uint32_t i) { return std::string_view(entries_[i].first); });
  for (std::size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].first == key) return static_cast<std::int64_t>(i);
  return -1;
}

void AttributeMap::append(std::string&& key, std::string&& value) {
  entries_.emplace_back(std::move(key), std::move(value));
  auto key_at = [this](std::uint32_t i) { return std::string_view(entries_[i].first); };
  if (index_) {
    index_->insert(entries_.back().first, static_cast<std::uint32_t>(entries_.size() - 1), key_at);
  } else if (entries_.size() > KeyIndex::kLinearLimit) {
    index_ = std::make_unique<KeyIndex>();
    index_->build(entries_.size(), key_at);
  }
}

void AttributeMap::set(std::string_view key, std::string_view value) {
  const std::int64_t pos = position_of(key);
  if (pos >= 0) {
    entries_[static_cast<std::size_t>(pos)].second.assign(value);
    return;
  }
  append(std::string(key), std::string(value));
}

void AttributeMap::set(std::string&& key, std::string&& value) {
  const std::int64_t pos = position_of(key);
  if (pos >= 0) {
    entries_[static_cast<std::size_t>(pos)].second = std::move(value);
    return;
  }
  append(std::move(key), std::move(value));
}

const std::string* AttributeMap::find(std::string_view key) const noexcept {
  const std::int64_t pos = position_of(key);
  return pos >= 0 ? &entries_[static_cast<std::size_t>(pos)].second : nullptr;
}

void AttributeMap::assign(std::span<const AttributeView> items) {
  const std::size_t kept = std::min(entries_.size(), items.size());
  entries_.resize(kept);
  for (std::size_t i = 0; i < kept; ++i) {
    entries_[i].first.assign(items[i].key);
    entries_[i].second.assign(items[i].value);
  }
  for (std::size_t i = kept; i < items.size(); ++i) entries_.emplace_back(items[i].key, items[i].value);
  index_.reset();
  if (entries_.size() > KeyIndex::kLinearLimit) {
    index_ = std::make_unique<KeyIndex>();
    index_->build(entries_.size(), [this](std::uint32_t i) { return std::string_view(entries_[i].first); });
  }
}

}  // namespace mirtle
