// Mesa keeps its contexts' framebuffers and its compiler's state for the
// life of the process, which the leak checker counts as leaks of ours. Include
// once in each test program that renders through it.
#pragma once

extern "C" const char* __lsan_default_suppressions() {
  return "leak:libOSMesa.so\nleak:libLLVM\nleak:libglapi.so\n";
}
