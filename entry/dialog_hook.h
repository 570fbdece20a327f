// The start selector runs the effect's dialog through this hook; a build
// without a dialog leaves it empty and start goes on as when no dialog is
// to be shown.
#pragma once

#include <cstdint>
#include <span>

#include "platform/protocol.h"

namespace kv {

struct RunRecord;

// Runs the dialog on the block, the whole of the locked parameters handle;
// returns 0 on OK, 1 on Cancel, or an error code.
using DialogRunner = int32_t (*)(ps::FilterRecord& host, RunRecord& run, std::span<uint8_t> block);

void SetDialogRunner(DialogRunner runner);
DialogRunner CurrentDialogRunner();

}  // namespace kv
