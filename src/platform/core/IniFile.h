#pragma once
// INI store shared by the settings, position and annotation files.
//
// Format written: UTF-8 with a byte-order mark, CR LF line ends, "[Section]" lines,
// "Key=Value" lines, one empty line after every section. Section and key names are
// matched without regard to (ASCII) case; the first spelling seen is kept on rewrite.
// Reading tolerates a missing BOM, LF or CR LF line ends, blank lines and ";" comments.
// Unknown sections and keys stay where they are when the store is rewritten.
//
// Every read takes the caller's default, returned when the key is missing or its value
// does not parse. Writes to disk go to a temporary file in the same folder that is
// flushed and renamed over the target, so an interrupted save never leaves half a file.
//
// Threads: an instance is not shared between threads. No Qt: the annotation model and
// the codecs' tests use it too.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace skm {

// Files larger than this are refused by LoadFromFile (64 MiB).
inline constexpr long kMaxIniFileBytes = 64L * 1024 * 1024;

class TIniFile {
public:
  TIniFile();
  ~TIniFile();
  TIniFile(const TIniFile&) = delete;
  TIniFile& operator=(const TIniFile&) = delete;

  // Replaces the contents with the file's. A missing file gives an empty store and true;
  // an unreadable one (a folder, no permission, larger than kMaxIniFileBytes) gives an
  // empty store, false and a message.
  bool LoadFromFile(const std::string& path, std::string* error = nullptr);
  // Replaces the contents with the text (BOM and line ends as described above).
  void LoadFromText(std::string_view text);
  // The whole store as file bytes: BOM, CR LF, an empty line after every section.
  std::string ToText() const;
  // Writes ToText() atomically (temporary file, flush, rename). False with a message
  // when any step fails; the previous file is then untouched.
  bool SaveToFile(const std::string& path, std::string* error = nullptr) const;

  // Empties the store.
  void Clear();

  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view key) const;
  // Section names in file order.
  std::vector<std::string> Sections() const;
  // Key names of one section in file order (empty when the section is missing).
  std::vector<std::string> Keys(std::string_view section) const;

  // The raw value text, or nothing when the key is missing.
  std::optional<std::string> Read(std::string_view section, std::string_view key) const;
  std::string ReadString(std::string_view section, std::string_view key, const std::string& def) const;
  // Signed 32-bit decimal, or hexadecimal after "0x"/"$"; out of range or unparsable gives def.
  int32_t ReadInteger(std::string_view section, std::string_view key, int32_t def) const;
  // Signed 64-bit, same rules as ReadInteger.
  int64_t ReadInt64(std::string_view section, std::string_view key, int64_t def) const;
  // Decimal with "." or with localeSeparator as the decimal separator; exponents accepted.
  double ReadFloat(std::string_view section, std::string_view key, double def,
                   char localeSeparator = '.') const;
  // Read as an integer; any non-zero value is true.
  bool ReadBool(std::string_view section, std::string_view key, bool def) const;

  // Sets a value, appending the section and/or key when new; an existing key keeps its place.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int64_t value);
  // Shortest general form with at most 15 significant digits and "." as separator.
  void WriteFloat(std::string_view section, std::string_view key, double value);
  void WriteBool(std::string_view section, std::string_view key, bool value);

  void DeleteKey(std::string_view section, std::string_view key);
  void EraseSection(std::string_view section);

private:
  struct Section;
  Section* FindSection(std::string_view name) const;
  Section& SectionFor(std::string_view name);
  void RebuildSectionIndex();

  std::vector<std::unique_ptr<Section>> FSections;
  std::unordered_map<std::string, Section*> FSectionIndex; // lower-case name -> section
};

// Parsers shared with readers that hold values outside an INI store.
std::optional<int64_t> ParseIniInt64(std::string_view text);
std::optional<double> ParseIniFloat(std::string_view text, char localeSeparator = '.');
// Shortest general form with at most `precision` significant digits, "." as separator
// ("1", "0.1", "0.300000011920929").
std::string FormatIniFloat(double value, int precision = 15);

// Writes bytes to path through a temporary file in the same folder and a rename.
bool WriteFileAtomically(const std::string& path, std::string_view bytes, std::string* error = nullptr);

} // namespace skm
