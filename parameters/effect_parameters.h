// Shorthands for the parameter lists the effects build: a parameter of one
// class, labelled, keyed and bound to its block field.
#pragma once

#include <cstdint>
#include <memory>

#include "parameters/parameters.h"

namespace kv {

template <class P, class V>
std::unique_ptr<P> MakeParameter(const char* label, uint32_t key, V* value, int32_t page = 0) {
  auto p = std::make_unique<P>();
  p->text.label = label;
  p->key = key;
  p->value = value;
  p->page = page;
  return p;
}

inline int32_t AddSlider(ParameterList& list, const char* label, uint32_t key, double* value, double minimum = 0.0,
                         double maximum = 100.0, int32_t page = 0) {
  auto p = MakeParameter<SliderParameter>(label, key, value, page);
  p->minimum = minimum;
  p->maximum = maximum;
  return list.AddParameter(std::move(p));
}

// A layer fill with the keys and choice texts the effects share: a solid
// colour, the original image, or transparency.
inline std::unique_ptr<LayerFillParameter> MakeLayerFill(const char* label, LayerFill* value) {
  auto fill = std::make_unique<LayerFillParameter>();
  fill->text.label = label;
  fill->modeKey = ps::FourCC("Fl  ");
  fill->colorKey = ps::FourCC("FlCl");
  fill->fillChoice = {"Fill with solid color", "Fill with solid color help"};
  fill->colorSwatch = {"Fill Color", "Fill color swatch help"};
  fill->keepChoice = {"Keep original image", "Keep original image help"};
  fill->transparentChoice = {"Make selection transparent", "Make selection transparent help"};
  fill->value = value;
  return fill;
}

template <class P, class V>
int32_t AddParameter(ParameterList& list, const char* label, uint32_t key, V* value, int32_t page = 0) {
  return list.AddParameter(MakeParameter<P>(label, key, value, page));
}

}  // namespace kv
