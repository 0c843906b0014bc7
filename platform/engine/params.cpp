#include "platform/engine/engine.h"
#include "platform/engine/sql_text.h"
#include "platform/rtl/text.h"

namespace engine {

TParam* TParams::FindParam(std::string_view name) {
  for (auto& p : items_) {
    if (rtl::SameText(p->Name(), name)) return p.get();
  }
  return nullptr;
}

TParam& TParams::ParamByName(std::string_view name) {
  TParam* p = FindParam(name);
  if (p == nullptr) throw EDatabaseError("Parameter '" + std::string(name) + "' not found");
  return *p;
}

TParam& TParams::Add(std::string name, FieldType type) {
  items_.push_back(std::make_unique<TParam>(std::move(name), type));
  return *items_.back();
}

}  // namespace engine
