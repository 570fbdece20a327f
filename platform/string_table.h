// The string table: every user-visible text is looked up by its English key
// in a table loaded from the resource folder, so translating the product
// means replacing that file, not the core.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv::strings {

inline constexpr char16_t kLostString[] = u"Lost String!!!";
// The table is the file <resource folder>/BF_UNICODE_STRING_TABLE/1, of at
// most 128 KiB.
inline constexpr char kResourceType[] = "BF_UNICODE_STRING_TABLE";
inline constexpr size_t kMaxResourceBytes = 0x20000;

// Loads resource 1 of type "BF_UNICODE_STRING_TABLE" from the resource folder
// and adds its entries to the table. 0 on success; -1 on failure with
// `errorText` = "Failed processing string table at line N." (entries before
// that line stay in the table); -108 when memory runs out.
[[nodiscard]] int32_t Load(std::string& errorText);
// The same from bytes already in memory (the resource's whole content).
[[nodiscard]] int32_t LoadFromBytes(const std::vector<uint8_t>& bytes, std::string& errorText);
// Line at which the last load failed, counted from 1; 0 when none failed.
int FailedLine();
void Clear();

// The value for a key, or "Lost String!!!".
std::u16string Lookup(std::u16string_view key);
// The same as 8-bit text (UTF-8), for windows, message boxes and terminals.
std::string Text(std::string_view key);

}  // namespace kv::strings
