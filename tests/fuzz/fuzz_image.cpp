// PNG, JPEG and TIFF files as kalvero reads them, as images and as
// selections: a refusal is a FileError; anything else escapes and fails.
#include "hosts/cli/image_files.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kv::fuzz::SetUp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const kv::fuzz::MemoryFile file(data, size);
  const auto quiet = [](const std::string&) {};
  try {
    const kv::host::Document image = kv::cli::ReadImage(file.Path(), quiet);
    (void)kv::cli::ReadSelection(file.Path(), image.width, image.height, quiet);
  } catch (const kv::cli::FileError&) {
  }
  return 0;
}
