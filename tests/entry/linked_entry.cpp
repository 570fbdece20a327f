// This binary's fake hosts drive the entry point linked into it.
#include "entry/entry.h"
#include "tests/support/fake_host.h"

namespace {
const bool kLinked = (kv::test::FakeHost::defaultEntry = &kv::EntryPoint, true);
}  // namespace
