#pragma once
// Read-only view of INI text, parsed by the same rules as TIniFile::LoadFromText (BOM
// skipped; CR, LF or CR LF line ends; blanks trimmed around section names and keys, not
// around values; sections and keys matched without regard to ASCII case, repeated
// sections merged and a repeated key's last value kept; ";" lines, lines without "=" and
// keys before the first section ignored) but without copying a single value: values are
// views into the text, which must outlive the view.
//
// The annotation reader uses it because a whiteboard file holds tens of megabytes of
// point data that the general store would copy twice.
//
// Threads: an instance is not shared between threads.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace skm {

class TIniView {
public:
  // Parses the text; it is not copied.
  explicit TIniView(std::string_view text);

  // Section names in first-seen order, with their first spelling.
  const std::vector<std::string_view>& Sections() const { return FOrder; }
  // The raw value, or nothing when the section or key is missing.
  std::optional<std::string_view> Read(std::string_view section, std::string_view key) const;
  // Number of keys of a section (0 when missing).
  size_t KeyCount(std::string_view section) const;

private:
  // Key of FValues: the section's number in 4 bytes, then the lower-case key name. One
  // hash for all keys keeps a file with a huge section linear to read.
  static void ValueKey(std::string& out, uint32_t section, std::string_view key);

  std::unordered_map<std::string, uint32_t> FSectionIds; // lower-case name -> number
  std::unordered_map<std::string, std::string_view> FValues;
  std::vector<size_t> FKeyCounts;                        // per section number
  std::vector<std::string_view> FOrder;                  // per section number
};

} // namespace skm
