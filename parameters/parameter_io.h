// Number texts and host text handles shared by the parameter classes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/protocol.h"
#include "platform/text.h"

namespace kv::param_io {

// printf into a string, in the C locale's number form like the rest of the
// 8-bit texts.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

bool EqualsIgnoreCase(std::string_view a, std::string_view b);
// Names the way people type them: case, spaces, '-' and '_' do not count.
std::string FoldedName(std::string_view name);
bool SameName(std::string_view a, std::string_view b);
// The whole text (surrounding white space aside) must be the number.
bool ParseDouble(std::string_view text, double& value);
bool ParseInt(std::string_view text, int64_t& value);
// Numbers as the settings text's scanf forms read them ("%lf", "%d",
// "%hu"): leading white space and the longest number that starts the text.
// kScanRead, kScanCut when a value was read but something was lost (text
// after the number, an integer beyond its type wrapped or held), or
// kScanFailed when no number starts the text.
enum ScanResult : int32_t { kScanRead = 0, kScanCut = 1, kScanFailed = -1 };
ScanResult ScanDouble(std::string_view text, double& value);
ScanResult ScanInt(std::string_view text, int32_t& value);
ScanResult ScanUnsignedShort(std::string_view text, uint16_t& value);

// A four-character code as text, "LItm".
std::string FourCCText(uint32_t code);

// Text values travel to and from the host as handles of 8-bit text; a
// trailing zero is written and, when present, ends the text read.
int32_t PutText(const ps::WriteDescriptorProcs& procs, ps::PIWriteDescriptor token, uint32_t key,
                std::string_view text, const ps::HandleProcs& handles);
int32_t GetText(const ps::ReadDescriptorProcs& procs, ps::PIReadDescriptor token, const ps::HandleProcs& handles,
                std::string& text);

}  // namespace kv::param_io
