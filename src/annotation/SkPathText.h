#pragma once
// Text forms of annotation values as they appear in the annotation file.
// Pure functions; any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "annotation/SkPath.h"

namespace skm {

// "pkNone" .. "pkMoveV2", exactly as written to the file.
std::string_view PathKindName(TPathKind k);
// The kind with that name (ASCII case ignored), or nothing.
std::optional<TPathKind> PathKindFromName(std::string_view name);
// "Solid" .. "Custom".
std::string_view StrokeDashName(TStrokeDash d);
// The dash with that name (ASCII case ignored), or nothing.
std::optional<TStrokeDash> StrokeDashFromName(std::string_view name);

// The float's bit pattern as 8 upper-case hex digits, low 16 bits first: 1.0 is "00003F80".
void AppendEncodedFloat(std::string& out, float v);
std::string EncodeFloat(float v);
// Inverse of EncodeFloat. Characters 1-4 give the low half, 5-8 the high half; a group
// that is missing or not hexadecimal counts as 0; characters after the eighth are ignored.
float DecodeFloat(std::string_view text);

// 1 to 8 hexadecimal digits (surrounding blanks allowed) as a 32-bit value, or nothing.
std::optional<uint32_t> ParseHexColor(std::string_view text);

// The annotation file for a name: the extension of its last path component replaced by
// ".zpp", or ".zpp" appended when it has none ("whiteboard_i" -> "whiteboard_i.zpp").
std::string AnnotationFileName(const std::string& name);

// The section name of record i: "L" and at least four digits ("L0007", "L10000").
std::string RecordSectionName(int32_t i);
// The record index a section name stands for, when it is exactly such a name (the "L" in
// either case); nothing for anything else ("L7", "L-001", "X0001").
std::optional<int32_t> RecordSectionIndex(std::string_view name);

} // namespace skm
