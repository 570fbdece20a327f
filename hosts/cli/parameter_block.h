// An effect's parameter block as kalvero keeps it between the command line
// and the core: built with the same parameter list the core builds, so
// `--set` takes exactly the texts the parameters read and `params` lists
// exactly what the effect has.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "effects/filter_table.h"
#include "framework/filter.h"
#include "hosts/cli/descriptor.h"
#include "parameters/parameters.h"

namespace kv::cli {

class ParameterBlock {
 public:
  // The effect's defaults. Throws std::invalid_argument when the effect is
  // not in this build.
  explicit ParameterBlock(int32_t effect, double resolution = 72.0);
  ParameterBlock(const ParameterBlock&) = delete;
  ParameterBlock& operator=(const ParameterBlock&) = delete;

  // Once the image is known: positions are then set and shown in its pixels.
  void SetPositionFrame(const PositionFrame& frame) { list_.positionFrame = frame; }
  // "NAME=VALUE": empty on success, else the reason, naming the parameter.
  std::string Set(std::string_view assignment, FilterParameter** changed = nullptr);
  // The bytes of the block, as the host's parameters handle holds them.
  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  // Takes a block the core left; false when it belongs to another effect.
  bool Adopt(const std::vector<uint8_t>& bytes);
  const ParameterList& List() const { return list_; }
  ParameterList& List() { return list_; }
  const Filter& Effect() const { return *filter_; }
  // The values as the core writes them for a recorded action.
  Descriptor Values() const;

 private:
  std::unique_ptr<Filter> filter_;
  std::vector<uint8_t> bytes_;
  ParameterList list_;
};

// Whether the effect exists in this build.
bool EffectBuilt(int32_t effect);

// `kalvero params`: one parameter a paragraph, name, key, kind and range,
// default, and the words it takes.
void PrintParameters(int32_t effect, std::FILE* out);

}  // namespace kv::cli
