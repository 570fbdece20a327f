// Ctrl-C (or SIGTERM): the first one asks the running effect to stop at its
// next poll; a second one ends the program at once.
#pragma once

namespace kv::cli {

void InstallInterruptHandler();
bool Interrupted();
// For tests: as if Ctrl-C had (or had not) been pressed.
void SetInterrupted(bool value);

}  // namespace kv::cli
