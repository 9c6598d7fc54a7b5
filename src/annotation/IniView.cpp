#include "annotation/IniView.h"

#include <cstring>

namespace skm {

namespace {

void AppendLower(std::string& out, std::string_view s) {
  for (char c : s) out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

} // namespace

void TIniView::ValueKey(std::string& out, uint32_t section, std::string_view key) {
  out.clear();
  out.append(reinterpret_cast<const char*>(&section), sizeof section);
  AppendLower(out, key);
}

TIniView::TIniView(std::string_view text) {
  if (text.size() >= 3 && std::memcmp(text.data(), "\xEF\xBB\xBF", 3) == 0) text.remove_prefix(3);
  bool inSection = false;
  uint32_t cur = 0;
  std::string lower;
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    // A line runs to the next CR or LF; the empty lines this leaves between CR and LF are
    // skipped like any blank line.
    const char* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    if (!lf) lf = end;
    const char* cr = static_cast<const char*>(std::memchr(p, '\r', static_cast<size_t>(lf - p)));
    const char* eol = cr ? cr : lf;
    const std::string_view line(p, static_cast<size_t>(eol - p));
    p = eol + 1;

    const std::string_view t = Trim(line);
    if (t.empty()) continue;
    if (t.front() == '[') {
      const size_t close = t.find(']');
      const std::string_view name = Trim(close == std::string_view::npos ? t.substr(1) : t.substr(1, close - 1));
      lower.clear();
      AppendLower(lower, name);
      auto [it, added] = FSectionIds.try_emplace(lower, static_cast<uint32_t>(FOrder.size()));
      if (added) {
        FOrder.push_back(name);
        FKeyCounts.push_back(0);
      }
      cur = it->second;
      inSection = true;
      continue;
    }
    if (!inSection) continue;
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos || t.front() == ';') continue;
    ValueKey(lower, cur, Trim(line.substr(0, eq)));
    auto [it, added] = FValues.insert_or_assign(lower, line.substr(eq + 1)); // the last one wins
    (void)it;
    if (added) ++FKeyCounts[cur];
  }
}

std::optional<std::string_view> TIniView::Read(std::string_view section, std::string_view key) const {
  std::string lower;
  AppendLower(lower, section);
  auto s = FSectionIds.find(lower);
  if (s == FSectionIds.end()) return std::nullopt;
  ValueKey(lower, s->second, key);
  auto v = FValues.find(lower);
  if (v == FValues.end()) return std::nullopt;
  return v->second;
}

size_t TIniView::KeyCount(std::string_view section) const {
  std::string lower;
  AppendLower(lower, section);
  auto s = FSectionIds.find(lower);
  return s == FSectionIds.end() ? 0 : FKeyCounts[s->second];
}

} // namespace skm
