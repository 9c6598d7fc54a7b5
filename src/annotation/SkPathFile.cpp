// The annotation file: INI text with a "System" section and one "L0000".. section per
// record, written through the INI store (temporary file and rename).
//
// The reader trusts nothing in the file: the record count only bounds which sections are
// read (it never sizes an allocation, and only sections that exist are visited), every
// value is parsed with a fallback, and the whole file is size-checked before it is read.

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <sys/stat.h>
#include <utility>

#include "annotation/SkPath.h"
#include "annotation/SkPathText.h"
#include "platform/core/IniFile.h"

namespace skm {

namespace {

constexpr std::string_view kKindNames[kPathKindCount] = {
    "pkNone",  "pkDraw",  "pkLine",    "pkRect",     "pkOval", "pkLineAr0", "pkLineAr1",
    "pkBrush0", "pkBrush1", "pkErase", "pkEdit0",   "pkEdit1",    "pkPointer", "pkEraseAll",
    "pkFill",  "pkDelete", "pkEdit",   "pkMove",     "pkMoveV2"};
constexpr std::string_view kDashNames[kStrokeDashCount] = {"Solid", "Dash", "Dot", "DashDot", "DashDotDot", "Custom"};

constexpr char kHexDigits[] = "0123456789ABCDEF";

// A path record whose colour is present but unreadable keeps its points in opaque black:
// the file's default colour (alpha 0) would turn the stroke into an eraser that wipes out
// what lies under it.
constexpr uint32_t kUnreadableColor = 0xFF000000;

constexpr std::string_view kSystem = "System";

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// A group of up to four hex digits; empty or anything else counts as 0.
uint32_t HexGroup(std::string_view g) {
  if (g.empty()) return 0;
  uint32_t v = 0;
  for (char c : g) {
    const int h = HexValue(c);
    if (h < 0) return 0;
    v = v * 16 + static_cast<uint32_t>(h);
  }
  return v;
}

void AppendHex4(std::string& out, uint32_t v) {
  out += kHexDigits[(v >> 12) & 0xF];
  out += kHexDigits[(v >> 8) & 0xF];
  out += kHexDigits[(v >> 4) & 0xF];
  out += kHexDigits[v & 0xF];
}

std::string ColorText(uint32_t c) {
  std::string s;
  AppendHex4(s, c >> 16);
  AppendHex4(s, c & 0xFFFF);
  return s;
}

std::string PathText(const TPolygon& pts) {
  std::string s;
  s.reserve(pts.size() * 18);
  for (size_t i = 0; i < pts.size(); ++i) {
    if (i) s += ' ';
    AppendEncodedFloat(s, pts[i].X);
    s += ',';
    AppendEncodedFloat(s, pts[i].Y);
  }
  return s;
}

TPolygon ParsePath(std::string_view text) {
  TPolygon pts;
  // Each item takes at least three characters ("a,b"), which bounds the reservation by
  // the text actually present.
  pts.reserve(text.size() / 18 + 1);
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find(' ', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view item = text.substr(pos, end - pos);
    pos = end + 1;
    if (item.empty()) continue; // doubled, leading or trailing spaces
    const size_t comma = item.find(',');
    if (comma == std::string_view::npos) continue; // a point needs both coordinates
    std::string_view y = item.substr(comma + 1);
    y = y.substr(0, y.find(','));
    pts.push_back({DecodeFloat(item.substr(0, comma)), DecodeFloat(y)});
  }
  return pts;
}

// "Thickness": "." always, the user's separator too; anything else, or a value outside
// the float range, is 0.
float ParseThickness(std::string_view text, char localeSeparator) {
  std::optional<double> d = ParseIniFloat(text, '.');
  if (!d && localeSeparator != '.' && localeSeparator != 0) d = ParseIniFloat(text, localeSeparator);
  if (!d || std::fabs(*d) > std::numeric_limits<float>::max()) return 0;
  return static_cast<float>(*d);
}

char CurrentLocaleSeparator() {
  const std::lconv* lc = std::localeconv();
  if (lc && lc->decimal_point && lc->decimal_point[0] && !lc->decimal_point[1]) return lc->decimal_point[0];
  return '.';
}

bool IsLoadedKind(TPathKind k) {
  return k == TPathKind::pkDraw || k == TPathKind::pkBrush0 || k == TPathKind::pkBrush1 || k == TPathKind::pkFill ||
         k == TPathKind::pkEraseAll;
}

} // namespace

// ---- text forms ----

std::string_view PathKindName(TPathKind k) {
  const auto i = static_cast<size_t>(k);
  return i < std::size(kKindNames) ? kKindNames[i] : std::string_view();
}

std::optional<TPathKind> PathKindFromName(std::string_view name) {
  for (size_t i = 0; i < std::size(kKindNames); ++i)
    if (EqualsNoCase(name, kKindNames[i])) return static_cast<TPathKind>(i);
  return std::nullopt;
}

std::string_view StrokeDashName(TStrokeDash d) {
  const auto i = static_cast<size_t>(d);
  return i < std::size(kDashNames) ? kDashNames[i] : std::string_view();
}

std::optional<TStrokeDash> StrokeDashFromName(std::string_view name) {
  for (size_t i = 0; i < std::size(kDashNames); ++i)
    if (EqualsNoCase(name, kDashNames[i])) return static_cast<TStrokeDash>(i);
  return std::nullopt;
}

void AppendEncodedFloat(std::string& out, float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  AppendHex4(out, bits & 0xFFFF);
  AppendHex4(out, bits >> 16);
}

std::string EncodeFloat(float v) {
  std::string s;
  AppendEncodedFloat(s, v);
  return s;
}

float DecodeFloat(std::string_view text) {
  const uint32_t lo = HexGroup(text.substr(0, 4));
  const uint32_t hi = text.size() > 4 ? HexGroup(text.substr(4, 4)) : 0;
  const uint32_t bits = (hi << 16) | lo;
  float v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

std::optional<uint32_t> ParseHexColor(std::string_view text) {
  text = TrimBlanks(text);
  if (text.empty() || text.size() > 8) return std::nullopt;
  uint32_t v = 0;
  for (char c : text) {
    const int h = HexValue(c);
    if (h < 0) return std::nullopt;
    v = v * 16 + static_cast<uint32_t>(h);
  }
  return v;
}

std::string AnnotationFileName(const std::string& name) {
  const size_t slash = name.rfind('/');
  const size_t componentStart = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot >= componentStart) return name.substr(0, dot) + ".zpp";
  return name + ".zpp";
}

std::string RecordSectionName(int32_t i) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "L%.4d", i);
  return buf;
}

std::optional<int32_t> RecordSectionIndex(std::string_view name) {
  if (name.size() < 5 || name.size() > 11 || (name[0] != 'L' && name[0] != 'l')) return std::nullopt;
  const std::string_view digits = name.substr(1);
  int64_t v = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  if (v > std::numeric_limits<int32_t>::max()) return std::nullopt;
  // Only the writer's own spelling: four digits, or more without a leading zero.
  if (digits.size() > 4 && digits[0] == '0') return std::nullopt;
  return static_cast<int32_t>(v);
}

// ---- saving ----

std::string TSkPaths::SaveToText() const {
  TIniFile ini;
  ini.WriteInteger(kSystem, "Start", SkStart);
  ini.WriteInteger(kSystem, "End", SkEnd);
  ini.WriteInteger(kSystem, "Count", Count());
  for (int32_t i = 0; i < Count(); ++i) {
    const TSkPath& p = *SkList[static_cast<size_t>(i)];
    const std::string sec = RecordSectionName(i);
    const TStrokeStyle& s = p.Style();
    ini.WriteString(sec, "Kind", PathKindName(s.Kind));
    ini.WriteString(sec, "Color", ColorText(s.Color));
    ini.WriteString(sec, "Dash", StrokeDashName(s.Dash));
    ini.WriteString(sec, "Thickness", FormatIniFloat(s.Thickness, 15));
    if (p.Polygon().size() > 1) ini.WriteString(sec, "Path", PathText(p.Polygon()));
    if (s.Kind == TPathKind::pkEdit) {
      std::string m;
      for (float e : p.M().Entries()) {
        if (!m.empty()) m += ',';
        AppendEncodedFloat(m, e);
      }
      ini.WriteString(sec, "Matrix", m);
    }
    if (!p.Targets().empty()) {
      std::string t;
      for (int32_t v : p.Targets()) {
        if (!t.empty()) t += ',';
        t += std::to_string(v);
      }
      ini.WriteString(sec, "Target", t);
    }
  }
  return ini.ToText();
}

bool TSkPaths::SaveToFile(const std::string& AFileName, std::string* error) const {
  return WriteFileAtomically(AnnotationFileName(AFileName), SaveToText(), error);
}

// ---- loading ----

void TSkPaths::LoadFromText(std::string_view text, char localeSeparator) {
  TIniFile ini;
  ini.LoadFromText(text);
  const int32_t count = ini.ReadInteger(kSystem, "Count", 0);
  if (count <= 0) return;

  // Visit the record sections that exist, in index order. Sections missing below Count
  // would have no kind and be skipped anyway, so this reads the same records as counting
  // up to Count, without walking an absurd count.
  std::vector<std::pair<int32_t, std::string>> records;
  for (std::string& name : ini.Sections()) {
    const std::optional<int32_t> idx = RecordSectionIndex(name);
    if (idx && *idx < count) records.emplace_back(*idx, std::move(name));
  }
  std::sort(records.begin(), records.end());

  for (const auto& [idx, sec] : records) {
    const std::optional<TPathKind> kind = PathKindFromName(TrimBlanks(ini.ReadString(sec, "Kind", "pkNone")));
    if (!kind || !IsLoadedKind(*kind)) continue;

    TStrokeStyle style;
    style.Kind = *kind;
    if (const std::optional<std::string> c = ini.Read(sec, "Color")) {
      const std::optional<uint32_t> v = ParseHexColor(*c);
      style.Color = v ? *v : kUnreadableColor;
    }
    style.Dash = StrokeDashFromName(TrimBlanks(ini.ReadString(sec, "Dash", "Solid"))).value_or(TStrokeDash::Solid);
    if (const std::optional<std::string> t = ini.Read(sec, "Thickness")) style.Thickness = ParseThickness(*t, localeSeparator);

    if (*kind == TPathKind::pkEraseAll) {
      Add(TSkPath::CreateComm(style));
    } else {
      const std::optional<std::string> path = ini.Read(sec, "Path");
      Add(TSkPath::CreatePath(style, path ? ParsePath(*path) : TPolygon()));
    }
  }
}

bool TSkPaths::LoadFromFile(const std::string& AFileName, std::string* error, char localeSeparator) {
  const std::string path = AnnotationFileName(AFileName);
  auto fail = [&](const std::string& what) {
    if (error) *error = what;
    return false;
  };
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return true; // no file yet: an empty whiteboard
    return fail("cannot open " + path + ": " + std::strerror(errno));
  }
  if (!S_ISREG(st.st_mode)) return fail("not a file: " + path);
  if (static_cast<uint64_t>(st.st_size) > kMaxAnnotationFileBytes)
    return fail("annotation file too large: " + path);

  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return fail("cannot open " + path + ": " + std::strerror(errno));
  std::string data;
  data.reserve(static_cast<size_t>(st.st_size));
  char buf[1 << 16];
  size_t n;
  bool tooLarge = false;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    // The file may grow while it is read; the limit holds for what is actually read.
    if (data.size() + n > kMaxAnnotationFileBytes) {
      tooLarge = true;
      break;
    }
    data.append(buf, n);
  }
  const bool readFailed = std::ferror(f) != 0;
  const int err = errno;
  std::fclose(f);
  if (tooLarge) return fail("annotation file too large: " + path);
  if (readFailed) return fail("cannot read " + path + ": " + std::strerror(err));

  LoadFromText(data, localeSeparator ? localeSeparator : CurrentLocaleSeparator());
  return true;
}

} // namespace skm
