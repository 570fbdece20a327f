#include "effects/lightning/arc_parameters.h"

#include "parameters/effect_parameters.h"

namespace kv {

int32_t AddArcShape(ParameterList& list, double* thickness, double* jaggedness, double* branching,
                    double* branchSpread) {
  auto p = MakeParameter<SliderParameter>("Arc Thickness", ps::FourCC("LIth"), thickness);
  p->minimum = 1.0;
  p->SetTrackSplit(0.8, 50.0);
  int32_t err = list.AddParameter(std::move(p));
  if (err == 0) err = AddSlider(list, "Jaggedness", ps::FourCC("LIja"), jaggedness);
  if (err == 0) err = AddSlider(list, "Branching", ps::FourCC("LIbr"), branching);
  if (err == 0) err = AddSlider(list, "Branch Spread", ps::FourCC("LIbs"), branchSpread);
  return err;
}

int32_t AddArcGlow(ParameterList& list, double* glowWidth, double* glowOpacity, Color* inner, Color* outer) {
  int32_t err = AddSlider(list, "Glow Width", ps::FourCC("LIgw"), glowWidth, 0.0, 100.0, 1);
  if (err == 0) err = AddSlider(list, "Glow Opacity", ps::FourCC("Opct"), glowOpacity, 0.0, 100.0, 1);
  if (err == 0) err = AddParameter<ColorParameter>(list, "Inner Color", ps::FourCC("LIic"), inner, 1);
  if (err == 0) err = AddParameter<ColorParameter>(list, "Outer Color", ps::FourCC("LIoc"), outer, 1);
  return err;
}

}  // namespace kv
