#include "parameters/description.h"

#include <new>
#include <type_traits>

#include "platform/string_table.h"

namespace kv {

namespace {

KeyDescription Key(uint32_t key, uint32_t type) { return {key, type, false, 0.0, 0.0}; }
KeyDescription Number(uint32_t key, double minimum, double maximum) {
  return {key, ps::typeFloat, true, minimum, maximum};
}

void DescribeRange(const SliderRange& range, ParameterDescription& d) {
  d.minimum = range.minimum;
  d.maximum = range.maximum;
  d.trackSplitFraction = range.trackSplitFraction;
  d.trackSplitValue = range.trackSplitValue;
}

void RebuildRange(const ParameterDescription& d, SliderRange& range) {
  range.minimum = d.minimum;
  range.maximum = d.maximum;
  range.SetTrackSplit(d.trackSplitFraction, d.trackSplitValue);
}

template <class P>
std::unique_ptr<P> Single(const ParameterDescription& d, ValueStore& store) {
  auto p = std::make_unique<P>();
  p->key = d.keys.empty() ? 0 : d.keys.front().key;
  p->value = store.New<std::remove_pointer_t<decltype(p->value)>>();
  return p;
}

uint32_t KeyAt(const ParameterDescription& d, size_t i) { return i < d.keys.size() ? d.keys[i].key : 0; }

}  // namespace

ParameterDescription Describe(const FilterParameter& p) {
  ParameterDescription d;
  d.kind = p.Kind();
  d.label = {p.text.label, p.text.LabelText()};
  d.help = {p.text.HelpKey(), p.text.HelpText()};
  d.page = p.page;
  switch (d.kind) {
    case ParameterKind::kSlider: {
      const auto& s = static_cast<const SliderParameter&>(p);
      DescribeRange(s, d);
      d.unit = s.unit;
      d.keys = {Number(s.key, s.minimum, s.maximum)};
      break;
    }
    case ParameterKind::kLength:
      DescribeRange(static_cast<const LengthSliderParameter&>(p), d);
      d.keys = {Key(p.Key(0), ps::typeText)};
      break;
    case ParameterKind::kCheckbox:
      d.keys = {Key(p.Key(0), ps::typeBoolean)};
      break;
    case ParameterKind::kDirection:
      d.keys = {Number(p.Key(0), 0.0, 360.0)};
      break;
    case ParameterKind::kSeed:
      d.keys = {{p.Key(0), ps::typeInteger, true, 0.0, 65535.0}};
      break;
    case ParameterKind::kListbox: {
      const auto& list = static_cast<const ListboxParameter&>(p);
      for (const auto& item : list.items)
        d.choices.push_back({item.value, item.enumCode, {item.label, strings::Text(item.label)}});
      d.enumType = list.enumType;
      d.keys = {Key(list.key, ps::typeEnumerated)};
      break;
    }
    case ParameterKind::kLayerFill: {
      const auto& fill = static_cast<const LayerFillParameter&>(p);
      d.allowedModes = fill.allowedModes;
      d.keys = {Key(fill.modeKey, ps::typeEnumerated), Key(fill.colorKey, ps::typeText)};
      break;
    }
    case ParameterKind::kLighting: {
      const auto& light = static_cast<const LightingParameter&>(p);
      d.minInclination = light.minInclination;
      d.keys = {Number(light.directionKey, 0.0, 360.0), Number(light.inclinationKey, light.minInclination, 90.0),
                Number(light.brightnessKey, 0.0, 100.0), Number(light.sharpnessKey, 0.0, 100.0),
                Key(light.highlightKey, ps::typeText)};
      break;
    }
    case ParameterKind::kColor:
    case ParameterKind::kPosition:
    case ParameterKind::kFlagConnections:
    case ParameterKind::kPuzzleArrangement:
      for (int32_t i = 0; i < p.KeyCount(); ++i) d.keys.push_back(Key(p.Key(i), ps::typeText));
      break;
  }
  return d;
}

std::unique_ptr<FilterParameter> Rebuild(const ParameterDescription& d, ValueStore& store) {
  std::unique_ptr<FilterParameter> built;
  switch (d.kind) {
    case ParameterKind::kSlider: {
      auto p = Single<SliderParameter>(d, store);
      RebuildRange(d, *p);
      p->unit = d.unit;
      built = std::move(p);
      break;
    }
    case ParameterKind::kLength: {
      auto p = Single<LengthSliderParameter>(d, store);
      RebuildRange(d, *p);
      built = std::move(p);
      break;
    }
    case ParameterKind::kCheckbox: built = Single<CheckboxParameter>(d, store); break;
    case ParameterKind::kDirection: built = Single<DirectionParameter>(d, store); break;
    case ParameterKind::kSeed: built = Single<RandomSeedParameter>(d, store); break;
    case ParameterKind::kColor: built = Single<ColorParameter>(d, store); break;
    case ParameterKind::kPosition: built = Single<PositionParameter>(d, store); break;
    case ParameterKind::kFlagConnections: built = Single<FlagConnectionsParameter>(d, store); break;
    case ParameterKind::kListbox: {
      auto p = Single<ListboxParameter>(d, store);
      for (const ChoiceDescription& c : d.choices) p->AddItem(c.value, c.enumCode, c.label.key);
      p->enumType = d.enumType;
      built = std::move(p);
      break;
    }
    case ParameterKind::kLayerFill: {
      auto p = std::make_unique<LayerFillParameter>();
      p->modeKey = KeyAt(d, 0);
      p->colorKey = KeyAt(d, 1);
      p->allowedModes = d.allowedModes;
      p->value = store.New<LayerFill>();
      built = std::move(p);
      break;
    }
    case ParameterKind::kLighting: {
      auto p = std::make_unique<LightingParameter>();
      p->directionKey = KeyAt(d, 0);
      p->inclinationKey = KeyAt(d, 1);
      p->brightnessKey = KeyAt(d, 2);
      p->sharpnessKey = KeyAt(d, 3);
      p->highlightKey = KeyAt(d, 4);
      p->SetMinimumInclination(d.minInclination);
      p->value = store.New<Lighting>();
      built = std::move(p);
      break;
    }
    case ParameterKind::kPuzzleArrangement: {
      auto p = std::make_unique<PuzzleArrangementParameter>();
      if (!d.keys.empty()) p->key = d.keys.front().key;
      p->value = store.New<PuzzleArrangement>();
      built = std::move(p);
      break;
    }
  }
  built->text = {d.label.key, d.help.key};
  built->page = d.page;
  return built;
}

int32_t Rebuild(const EffectDescription& effect, ParameterList& list, ValueStore& store) {
  try {
    for (const ParameterDescription& d : effect.parameters)
      if (int32_t err = list.AddParameter(Rebuild(d, store))) return err;
    for (const KeyedText& page : effect.pages)
      if (int32_t err = list.AddPage(page.key)) return err;
    list.dialogHelp = effect.dialogHelp.key;
    return 0;
  } catch (const std::bad_alloc&) {
    return -108;
  }
}

const KeyDescription* FindKey(const EffectDescription& effect, uint32_t key, const ParameterDescription** owner) {
  for (const ParameterDescription& p : effect.parameters)
    for (const KeyDescription& k : p.keys)
      if (k.key == key) {
        if (owner != nullptr) *owner = &p;
        return &k;
      }
  return nullptr;
}

}  // namespace kv
