// The annotation file: INI text with a "System" section and one "L0000".. section per
// record. A whiteboard can hold tens of megabytes of points, so the bytes the INI store
// would write are produced directly and written through the same temporary-file-and-
// rename, and the text is read through a view that parses by the store's rules without
// copying values.
//
// The reader trusts nothing in the file: the record count only bounds which sections are
// read (it never sizes an allocation, and only sections that exist are visited), every
// value is parsed with a fallback, and the whole file is size-checked before it is read.

#include <algorithm>
#include <array>
#include <charconv>
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
#include "annotation/IniView.h"
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

constexpr std::array<int8_t, 256> MakeHexTable() {
  std::array<int8_t, 256> t{};
  for (auto& v : t) v = -1;
  for (int c = '0'; c <= '9'; ++c) t[size_t(c)] = int8_t(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) t[size_t(c)] = int8_t(c - 'A' + 10);
  for (int c = 'a'; c <= 'f'; ++c) t[size_t(c)] = int8_t(c - 'a' + 10);
  return t;
}
constexpr std::array<int8_t, 256> kHexTable = MakeHexTable();

int HexValue(char c) { return kHexTable[static_cast<unsigned char>(c)]; }

// A group of up to four hex digits; empty or anything else counts as 0.
uint32_t HexGroup(std::string_view g) {
  if (g.size() == 4) { // the usual case, without a branch per digit
    const int a = HexValue(g[0]), b = HexValue(g[1]), c = HexValue(g[2]), d = HexValue(g[3]);
    if ((a | b | c | d) < 0) return 0;
    return static_cast<uint32_t>((a << 12) | (b << 8) | (c << 4) | d);
  }
  if (g.empty()) return 0;
  uint32_t v = 0;
  for (char c : g) {
    const int h = HexValue(c);
    if (h < 0) return 0;
    v = v * 16 + static_cast<uint32_t>(h);
  }
  return v;
}

// Writes the 8 characters of an encoded float.
char* EncodeFloatTo(char* d, float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  const uint32_t lo = bits & 0xFFFF, hi = bits >> 16;
  d[0] = kHexDigits[(lo >> 12) & 0xF];
  d[1] = kHexDigits[(lo >> 8) & 0xF];
  d[2] = kHexDigits[(lo >> 4) & 0xF];
  d[3] = kHexDigits[lo & 0xF];
  d[4] = kHexDigits[(hi >> 12) & 0xF];
  d[5] = kHexDigits[(hi >> 8) & 0xF];
  d[6] = kHexDigits[(hi >> 4) & 0xF];
  d[7] = kHexDigits[hi & 0xF];
  return d + 8;
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

TPolygon ParsePath(std::string_view text) {
  TPolygon pts;
  // A written point takes 18 characters; reserving by that bounds the allocation by the
  // text actually present (a hostile "1,2 1,2 .." merely grows the vector as it goes).
  pts.reserve(text.size() / 18 + 1);
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    // One item: up to the next space. Its first "," separates X from Y; a second ","
    // ends Y.
    const char* itemEnd = p;
    const char* comma = nullptr;
    const char* comma2 = nullptr;
    for (; itemEnd < end && *itemEnd != ' '; ++itemEnd) {
      if (*itemEnd == ',') {
        if (!comma) comma = itemEnd;
        else if (!comma2) comma2 = itemEnd;
      }
    }
    // Items without "," (stray words, doubled spaces) are not points.
    if (comma) {
      const char* yEnd = comma2 ? comma2 : itemEnd;
      pts.push_back({DecodeFloat(std::string_view(p, static_cast<size_t>(comma - p))),
                     DecodeFloat(std::string_view(comma + 1, static_cast<size_t>(yEnd - comma - 1)))});
    }
    p = itemEnd + 1;
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
  char buf[8];
  EncodeFloatTo(buf, v);
  out.append(buf, sizeof buf);
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

namespace {

void AppendInt(std::string& out, int64_t v) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

void AppendKey(std::string& out, std::string_view key, std::string_view value) {
  out += key;
  out += '=';
  out += value;
  out += "\r\n";
}

} // namespace

// The same bytes as the INI store writes for these sections and keys, produced in one
// pass: BOM, CR LF, an empty line after every section.
std::string TSkPaths::SaveToText() const {
  size_t estimate = 64;
  for (const auto& p : SkList) estimate += 96 + p->Polygon().size() * 18 + p->Targets().size() * 12;
  std::string out;
  out.reserve(estimate + (estimate >> 4));
  out += "\xEF\xBB\xBF[System]\r\nStart=";
  AppendInt(out, SkStart);
  out += "\r\nEnd=";
  AppendInt(out, SkEnd);
  out += "\r\nCount=";
  AppendInt(out, Count());
  out += "\r\n\r\n";
  for (int32_t i = 0; i < Count(); ++i) {
    const TSkPath& p = *SkList[static_cast<size_t>(i)];
    const TStrokeStyle& s = p.Style();
    out += '[';
    out += RecordSectionName(i);
    out += "]\r\n";
    AppendKey(out, "Kind", PathKindName(s.Kind));
    AppendKey(out, "Color", ColorText(s.Color));
    AppendKey(out, "Dash", StrokeDashName(s.Dash));
    AppendKey(out, "Thickness", FormatIniFloat(s.Thickness, 15));
    if (p.Polygon().size() > 1) {
      out += "Path=";
      const TPolygon& pts = p.Polygon();
      const size_t at = out.size();
      out.resize(at + pts.size() * 18 - 1); // "X,Y" of 17 characters, one space between
      char* d = out.data() + at;
      for (size_t k = 0; k < pts.size(); ++k) {
        if (k) *d++ = ' ';
        d = EncodeFloatTo(d, pts[k].X);
        *d++ = ',';
        d = EncodeFloatTo(d, pts[k].Y);
      }
      out += "\r\n";
    }
    if (s.Kind == TPathKind::pkEdit) {
      out += "Matrix=";
      bool first = true;
      for (float e : p.M().Entries()) {
        if (!first) out += ',';
        first = false;
        AppendEncodedFloat(out, e);
      }
      out += "\r\n";
    }
    if (!p.Targets().empty()) {
      out += "Target=";
      for (size_t k = 0; k < p.Targets().size(); ++k) {
        if (k) out += ',';
        AppendInt(out, p.Targets()[k]);
      }
      out += "\r\n";
    }
    out += "\r\n";
  }
  return out;
}

bool TSkPaths::SaveToFile(const std::string& AFileName, std::string* error) const {
  return WriteFileAtomically(AnnotationFileName(AFileName), SaveToText(), error);
}

// ---- loading ----

void TSkPaths::LoadFromText(std::string_view text, char localeSeparator) {
  const TIniView ini(text);
  // Count as the INI store reads an integer; anything but a positive 32-bit count reads
  // no records.
  std::optional<int64_t> parsed;
  if (const auto v = ini.Read(kSystem, "Count")) parsed = ParseIniInt64(*v);
  if (!parsed || *parsed <= 0 || *parsed > std::numeric_limits<int32_t>::max()) return;
  const int32_t count = static_cast<int32_t>(*parsed);

  // Visit the record sections that exist, in index order. Sections missing below Count
  // would have no kind and be skipped anyway, so this reads the same records as counting
  // up to Count, without walking an absurd count.
  std::vector<std::pair<int32_t, std::string_view>> records;
  for (std::string_view name : ini.Sections()) {
    const std::optional<int32_t> idx = RecordSectionIndex(name);
    if (idx && *idx < count) records.emplace_back(*idx, name);
  }
  std::sort(records.begin(), records.end());

  for (const auto& [idx, sec] : records) {
    const std::optional<TPathKind> kind = PathKindFromName(TrimBlanks(ini.Read(sec, "Kind").value_or("pkNone")));
    if (!kind || !IsLoadedKind(*kind)) continue;

    TStrokeStyle style;
    style.Kind = *kind;
    if (const std::optional<std::string_view> c = ini.Read(sec, "Color")) {
      const std::optional<uint32_t> v = ParseHexColor(*c);
      style.Color = v ? *v : kUnreadableColor;
    }
    style.Dash = StrokeDashFromName(TrimBlanks(ini.Read(sec, "Dash").value_or("Solid"))).value_or(TStrokeDash::Solid);
    if (const std::optional<std::string_view> t = ini.Read(sec, "Thickness")) style.Thickness = ParseThickness(*t, localeSeparator);

    if (*kind == TPathKind::pkEraseAll) {
      Add(TSkPath::CreateComm(style));
    } else {
      Add(TSkPath::CreatePath(style, ParsePath(ini.Read(sec, "Path").value_or(std::string_view()))));
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
