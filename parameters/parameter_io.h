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
// A four-character code as text, "LItm".
std::string FourCCText(uint32_t code);

// Text values travel to and from the host as handles of 8-bit text; a
// trailing zero is written and, when present, ends the text read.
int32_t PutText(const ps::WriteDescriptorProcs& procs, ps::PIWriteDescriptor token, uint32_t key,
                std::string_view text, const ps::HandleProcs& handles);
int32_t GetText(const ps::ReadDescriptorProcs& procs, ps::PIReadDescriptor token, const ps::HandleProcs& handles,
                std::string& text);

}  // namespace kv::param_io
