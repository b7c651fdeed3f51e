#include "framework/component.h"

#include <algorithm>

#include "platform/text.h"

namespace qar {

std::atomic<TCreateVCLComObjectProc> CreateVCLComObjectProc{nullptr};

TComponent::~TComponent() {
  // The object that wraps this component forgets it first: it may outlive it.
  if (wrapper_ != nullptr) wrapper_->ComponentDestroyed();
  // One at a time from the end, so that a component being destroyed still finds
  // its owner's list consistent.
  while (!components_.empty()) {
    std::unique_ptr<TComponent> last = std::move(components_.back());
    components_.pop_back();
    last->owner_ = nullptr;
    last.reset();
  }
}

TComponent& TComponent::InsertComponent(std::unique_ptr<TComponent> component) {
  if (!component) throw EComponentError("No component to insert");
  if (component->owner_ != nullptr) throw EComponentError("Component already has an owner");
  if (!component->name_.empty() && FindComponent(component->name_) != nullptr)
    throw EComponentError("A component named " + component->name_ + " already exists");
  component->owner_ = this;
  components_.push_back(std::move(component));
  return *components_.back();
}

std::unique_ptr<TComponent> TComponent::RemoveComponent(TComponent& component) {
  auto it = std::find_if(components_.begin(), components_.end(),
                         [&](const auto& owned) { return owned.get() == &component; });
  if (it == components_.end()) throw EComponentError("Component is not owned here");
  std::unique_ptr<TComponent> result = std::move(*it);
  components_.erase(it);
  result->owner_ = nullptr;
  return result;
}

TComponent& TComponent::Components(int index) const {
  if (index < 0 || index >= ComponentCount())
    throw EComponentError("List index out of bounds (" + std::to_string(index) + ")");
  return *components_[static_cast<std::size_t>(index)];
}

TComponent* TComponent::FindComponent(std::string_view name) const {
  if (name.empty()) return nullptr;
  for (const auto& component : components_)
    if (platform::SameTextAscii(component->name_, name)) return component.get();
  return nullptr;
}

void TComponent::SetName(std::string name) {
  if (name == name_) return;
  if (owner_ != nullptr && !name.empty()) {
    const TComponent* other = owner_->FindComponent(name);
    if (other != nullptr && other != this)
      throw EComponentError("A component named " + name + " already exists");
  }
  name_ = std::move(name);
}

void TComponent::Dispatch(TMessage&) {}

void TComponent::SetVCLComObject(IUnknown* object, IComponentWrapper* wrapper) {
  if (object != nullptr && vclComObject_ != nullptr && vclComObject_ != object)
    throw EComponentError(ClassName() + " " + name_ + " already has an automation object");
  vclComObject_ = object;
  wrapper_ = object != nullptr ? wrapper : nullptr;
}

TComPtr<IUnknown> TComponent::ComObject() {
  if (vclComObject_ != nullptr) return TComPtr<IUnknown>(vclComObject_);
  const TCreateVCLComObjectProc create = CreateVCLComObjectProc.load();
  if (create == nullptr) throw EComponentError("No automation support for " + ClassName());
  return create(*this);
}

bool TComponent::GetInterface(const TGUID&, void** object) {
  if (object != nullptr) *object = nullptr;
  return false;
}

}  // namespace qar
