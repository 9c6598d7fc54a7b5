#include "platform/core/IniFile.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace skm {

struct TIniFile::Section {
  std::string Name;
  std::vector<std::pair<std::string, std::string>> Lines; // key, value ("" key: kept raw line)
  std::unordered_map<std::string, size_t> Index;           // lower-case key -> line

  const std::string* Find(std::string_view key) const;
};

namespace {

std::string Lower(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

} // namespace

const std::string* TIniFile::Section::Find(std::string_view key) const {
  auto it = Index.find(Lower(key));
  return it == Index.end() ? nullptr : &Lines[it->second].second;
}

TIniFile::TIniFile() = default;
TIniFile::~TIniFile() = default;

void TIniFile::Clear() {
  FSections.clear();
  FSectionIndex.clear();
}

TIniFile::Section* TIniFile::FindSection(std::string_view name) const {
  auto it = FSectionIndex.find(Lower(name));
  return it == FSectionIndex.end() ? nullptr : it->second;
}

TIniFile::Section& TIniFile::SectionFor(std::string_view name) {
  if (Section* s = FindSection(name)) return *s;
  auto sec = std::make_unique<Section>();
  sec->Name = std::string(name);
  Section* raw = sec.get();
  FSections.push_back(std::move(sec));
  FSectionIndex.emplace(Lower(name), raw);
  return *raw;
}

void TIniFile::RebuildSectionIndex() {
  FSectionIndex.clear();
  for (auto& s : FSections) FSectionIndex.emplace(Lower(s->Name), s.get());
}

void TIniFile::LoadFromText(std::string_view text) {
  Clear();
  if (text.size() >= 3 && std::memcmp(text.data(), "\xEF\xBB\xBF", 3) == 0) text.remove_prefix(3);
  Section* cur = nullptr;
  size_t pos = 0;
  while (pos < text.size()) {
    // memchr for the line feed, then a carriage return inside the line: a per-character
    // search for either would cost a call per byte on large files.
    const char* base = text.data() + pos;
    const size_t left = text.size() - pos;
    const void* lf = std::memchr(base, '\n', left);
    size_t len = lf ? static_cast<size_t>(static_cast<const char*>(lf) - base) : left;
    size_t next = pos + len + (lf ? 1 : 0);
    if (const void* cr = std::memchr(base, '\r', len)) {
      // CR LF, or a lone CR ending the line (old Mac files).
      const size_t crLen = static_cast<size_t>(static_cast<const char*>(cr) - base);
      next = (crLen + 1 == len && lf) ? next : pos + crLen + 1;
      len = crLen;
    }
    std::string_view line = text.substr(pos, len);
    pos = next;

    std::string_view t = Trim(line);
    if (t.empty()) continue;
    if (t.front() == '[') {
      size_t close = t.find(']');
      std::string_view name = close == std::string_view::npos ? t.substr(1) : t.substr(1, close - 1);
      cur = &SectionFor(Trim(name));
      continue;
    }
    if (!cur) continue; // keys before any section have no home
    size_t eq = line.find('=');
    if (eq == std::string_view::npos || t.front() == ';') {
      cur->Lines.emplace_back(std::string(), std::string(line)); // comment or stray text, kept as is
      continue;
    }
    std::string key(Trim(line.substr(0, eq)));
    std::string value(line.substr(eq + 1));
    std::string lk = Lower(key);
    auto it = cur->Index.find(lk);
    if (it != cur->Index.end()) {
      cur->Lines[it->second].second = std::move(value); // a repeated key: the last one wins
    } else {
      cur->Index.emplace(std::move(lk), cur->Lines.size());
      cur->Lines.emplace_back(std::move(key), std::move(value));
    }
  }
}

bool TIniFile::LoadFromFile(const std::string& path, std::string* error) {
  Clear();
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    if (errno == ENOENT) return true;
    if (error) *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  // Settings and position files are a few hundred bytes; refusing absurd sizes keeps a
  // hostile file from taking the memory.
  if (std::fseek(f, 0, SEEK_END) == 0) {
    const long size = std::ftell(f);
    if (size > kMaxIniFileBytes) {
      std::fclose(f);
      if (error) *error = "file too large: " + path;
      return false;
    }
    std::rewind(f);
  }
  std::string data;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, n);
  const bool failed = std::ferror(f) != 0;
  const int err = errno;
  std::fclose(f);
  if (failed) {
    if (error) *error = "cannot read " + path + ": " + std::strerror(err);
    return false;
  }
  LoadFromText(data);
  return true;
}

std::string TIniFile::ToText() const {
  std::string out = "\xEF\xBB\xBF";
  for (const auto& s : FSections) {
    out += '[';
    out += s->Name;
    out += "]\r\n";
    for (const auto& [k, v] : s->Lines) {
      if (!k.empty()) {
        out += k;
        out += '=';
      }
      out += v;
      out += "\r\n";
    }
    out += "\r\n";
  }
  return out;
}

bool TIniFile::SaveToFile(const std::string& path, std::string* error) const {
  return WriteFileAtomically(path, ToText(), error);
}

bool TIniFile::SectionExists(std::string_view section) const { return FindSection(section) != nullptr; }

bool TIniFile::ValueExists(std::string_view section, std::string_view key) const {
  const Section* s = FindSection(section);
  return s && s->Find(key);
}

std::vector<std::string> TIniFile::Sections() const {
  std::vector<std::string> r;
  r.reserve(FSections.size());
  for (const auto& s : FSections) r.push_back(s->Name);
  return r;
}

std::vector<std::string> TIniFile::Keys(std::string_view section) const {
  std::vector<std::string> r;
  if (const Section* s = FindSection(section))
    for (const auto& [k, v] : s->Lines)
      if (!k.empty()) r.push_back(k);
  return r;
}

std::optional<std::string> TIniFile::Read(std::string_view section, std::string_view key) const {
  const Section* s = FindSection(section);
  if (!s) return std::nullopt;
  const std::string* v = s->Find(key);
  if (!v) return std::nullopt;
  return *v;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key, const std::string& def) const {
  auto v = Read(section, key);
  return v ? *v : def;
}

int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key, int32_t def) const {
  auto v = Read(section, key);
  if (!v) return def;
  auto n = ParseIniInt64(*v);
  if (!n || *n < std::numeric_limits<int32_t>::min() || *n > std::numeric_limits<int32_t>::max()) {
    // Hexadecimal texts up to 8 digits stand for the 32-bit pattern (0xFFFFFFFF is -1).
    if (n && *n > 0 && *n <= 0xFFFFFFFFll) {
      std::string_view t = Trim(*v);
      if (t.starts_with("0x") || t.starts_with("0X") || t.starts_with("$"))
        return static_cast<int32_t>(static_cast<uint32_t>(*n));
    }
    return def;
  }
  return static_cast<int32_t>(*n);
}

int64_t TIniFile::ReadInt64(std::string_view section, std::string_view key, int64_t def) const {
  auto v = Read(section, key);
  if (!v) return def;
  auto n = ParseIniInt64(*v);
  return n ? *n : def;
}

double TIniFile::ReadFloat(std::string_view section, std::string_view key, double def, char sep) const {
  auto v = Read(section, key);
  if (!v) return def;
  auto d = ParseIniFloat(*v, sep);
  return d ? *d : def;
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  Section& s = SectionFor(section);
  std::string lk = Lower(key);
  auto it = s.Index.find(lk);
  if (it != s.Index.end()) {
    s.Lines[it->second].second = std::string(value);
    return;
  }
  s.Index.emplace(std::move(lk), s.Lines.size());
  s.Lines.emplace_back(std::string(key), std::string(value));
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, int64_t value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteFloat(std::string_view section, std::string_view key, double value) {
  WriteString(section, key, FormatIniFloat(value));
}

void TIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void TIniFile::DeleteKey(std::string_view section, std::string_view key) {
  Section* s = FindSection(section);
  if (!s) return;
  auto it = s->Index.find(Lower(key));
  if (it == s->Index.end()) return;
  s->Lines.erase(s->Lines.begin() + static_cast<std::ptrdiff_t>(it->second));
  s->Index.clear();
  for (size_t i = 0; i < s->Lines.size(); ++i)
    if (!s->Lines[i].first.empty()) s->Index.emplace(Lower(s->Lines[i].first), i);
}

void TIniFile::EraseSection(std::string_view section) {
  Section* s = FindSection(section);
  if (!s) return;
  for (auto it = FSections.begin(); it != FSections.end(); ++it) {
    if (it->get() == s) {
      FSections.erase(it);
      break;
    }
  }
  RebuildSectionIndex();
}

std::optional<int64_t> ParseIniInt64(std::string_view text) {
  std::string_view t = Trim(text);
  bool neg = false;
  if (!t.empty() && (t.front() == '-' || t.front() == '+')) {
    neg = t.front() == '-';
    t.remove_prefix(1);
  }
  int base = 10;
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    base = 16;
    t.remove_prefix(2);
  } else if (t.size() > 1 && t[0] == '$') {
    base = 16;
    t.remove_prefix(1);
  }
  if (t.empty()) return std::nullopt;
  uint64_t u = 0;
  auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), u, base);
  if (ec != std::errc() || p != t.data() + t.size()) return std::nullopt;
  if (neg) {
    if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + 1) return std::nullopt;
    return static_cast<int64_t>(0 - u);
  }
  if (base == 16) return static_cast<int64_t>(u); // 64-bit hex patterns wrap
  if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return std::nullopt;
  return static_cast<int64_t>(u);
}

std::optional<double> ParseIniFloat(std::string_view text, char localeSeparator) {
  std::string t(Trim(text));
  if (t.empty()) return std::nullopt;
  if (localeSeparator != '.')
    for (char& c : t)
      if (c == localeSeparator) c = '.';
  // Only plain decimal text: no hex floats, no inf or nan, no thousands separators.
  for (char c : t)
    if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
      return std::nullopt;
  // from_chars takes no "+" sign; allow exactly one in front of a digit or ".".
  size_t start = 0;
  if (t.size() > 1 && t[0] == '+' && t[1] != '+' && t[1] != '-') start = 1;
  double d = 0;
  auto [p, ec] = std::from_chars(t.data() + start, t.data() + t.size(), d);
  if (ec != std::errc() || p != t.data() + t.size()) return std::nullopt;
  if (!std::isfinite(d)) return std::nullopt;
  return d;
}

std::string FormatIniFloat(double value, int precision) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*g", precision, value); // C locale: "." separator
  for (char* c = buf; *c; ++c)
    if (*c == ',') *c = '.';
  return buf;
}

bool WriteFileAtomically(const std::string& path, std::string_view bytes, std::string* error) {
  auto fail = [&](const std::string& what, int err) {
    if (error) *error = what + " " + path + ": " + std::strerror(err);
    return false;
  };
  std::string tmpl = path + ".XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  int fd = ::mkstemp(name.data());
  if (fd < 0) return fail("cannot create a temporary file for", errno);
  const std::string tmp(name.data());
  // Keep the permissions an existing file had; a new one gets the usual 0644 less umask.
  struct stat st {};
  mode_t mode = 0644;
  if (::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
  else {
    mode_t um = ::umask(0);
    ::umask(um);
    mode &= ~um;
  }
  ::fchmod(fd, mode);
  size_t off = 0;
  while (off < bytes.size()) {
    ssize_t w = ::write(fd, bytes.data() + off, bytes.size() - off);
    if (w < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      ::unlink(tmp.c_str());
      return fail("cannot write", err);
    }
    off += static_cast<size_t>(w);
  }
  if (::fsync(fd) != 0) {
    int err = errno;
    ::close(fd);
    ::unlink(tmp.c_str());
    return fail("cannot flush", err);
  }
  if (::close(fd) != 0) {
    int err = errno;
    ::unlink(tmp.c_str());
    return fail("cannot close", err);
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    int err = errno;
    ::unlink(tmp.c_str());
    return fail("cannot replace", err);
  }
  return true;
}

} // namespace skm
