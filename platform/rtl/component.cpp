#include "platform/rtl/component.h"

#include <algorithm>

#include "platform/rtl/format.h"
#include "platform/rtl/strings.h"

namespace jw {

namespace {

bool IsValidIdent(const std::string& name) {
  auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
  if (name.empty() || !letter(name[0])) return false;
  return std::all_of(name.begin() + 1, name.end(),
                     [&](char c) { return letter(c) || (c >= '0' && c <= '9'); });
}

void EraseOne(std::vector<TComponent*>& list, const TComponent* item) {
  auto it = std::find(list.begin(), list.end(), item);
  if (it != list.end()) list.erase(it);
}

}  // namespace

TComponent::TComponent(TComponent* owner) {
  if (owner != nullptr) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  Destroying();
  // Partners are told first, while everything this component owns still
  // exists, so that they can drop their references to any of it.
  while (!free_notifies_.empty()) {
    TComponent* partner = free_notifies_.back();
    free_notifies_.pop_back();
    EraseOne(partner->free_notifies_, this);
    partner->Notification(this, opRemove);
  }
  DestroyComponents();
  if (owner_ != nullptr) owner_->RemoveComponent(this);
  if (loading_scope_ != nullptr) loading_scope_->Forget(*this);
}

TComponent* TComponent::Components(int index) const {
  if (index < 0 || index >= ComponentCount()) {
    throw EListError(Format("List index out of bounds (%d)", index));
  }
  return components_[static_cast<std::size_t>(index)];
}

TComponent* TComponent::FindComponent(const std::string& name) const {
  if (name.empty()) return nullptr;
  for (TComponent* component : components_) {
    if (SameText(component->name_, name)) return component;
  }
  return nullptr;
}

bool TComponent::Owns(const TComponent* component) const {
  return std::find(components_.begin(), components_.end(), component) != components_.end();
}

void TComponent::SetName(const std::string& name) {
  if (name == name_) return;
  if (!name.empty() && !IsValidIdent(name)) {
    throw EComponentError(Format("'%s' is not a valid component name", name));
  }
  // A change of case alone keeps the component's own place.
  if (owner_ != nullptr && !SameText(name, name_) && owner_->FindComponent(name) != nullptr) {
    throw EComponentError(Format("A component named %s already exists", name));
  }
  name_ = name;
}

void TComponent::SetDesigning(bool designing) {
  if (designing) {
    state_.Include(csDesigning);
  } else {
    state_.Exclude(csDesigning);
  }
  for (TComponent* component : components_) component->SetDesigning(designing);
}

void TComponent::InsertComponent(TComponent* component) {
  if (component == nullptr || component->owner_ == this) return;
  for (const TComponent* ancestor = this; ancestor != nullptr; ancestor = ancestor->owner_) {
    if (ancestor == component) {
      throw EComponentError(Format("Component %s cannot own itself", component->ClassName()));
    }
  }
  if (!component->name_.empty() && FindComponent(component->name_) != nullptr) {
    throw EComponentError(Format("A component named %s already exists", component->name_));
  }
  if (component->owner_ != nullptr) component->owner_->RemoveComponent(component);
  components_.push_back(component);
  ++component_changes_;
  component->owner_ = this;
  if (loading_scope_ != nullptr && !loading_scope_->ended_) {
    component->JoinLoadingScope(*loading_scope_);
  }
  Notification(component, opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
  if (component == nullptr || component->owner_ != this) return;
  Notification(component, opRemove);
  // A handler may have deleted the component meanwhile, and its destructor
  // has then removed it already.
  auto it = std::find(components_.begin(), components_.end(), component);
  if (it != components_.end()) {
    components_.erase(it);
    ++component_changes_;
    component->owner_ = nullptr;
  }
}

void TComponent::DestroyComponents() {
  // Each destructor removes its component from this list.
  while (!components_.empty()) delete components_.back();
}

void TComponent::FreeNotification(TComponent* component) {
  if (component == nullptr || component == this) return;
  if (std::find(free_notifies_.begin(), free_notifies_.end(), component) == free_notifies_.end()) {
    free_notifies_.push_back(component);
  }
  auto& theirs = component->free_notifies_;
  if (std::find(theirs.begin(), theirs.end(), this) == theirs.end()) theirs.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
  if (component == nullptr) return;
  EraseOne(free_notifies_, component);
  EraseOne(component->free_notifies_, this);
}

void TComponent::Destroying() {
  if (state_.Contains(csDestroying)) return;
  state_.Include(csDestroying);
  for (TComponent* component : components_) component->Destroying();
}

void TComponent::Notification(TComponent* component, TOperation operation) {
  if (operation == opRemove) RemoveFreeNotification(component);
  // A receiver may delete or create siblings: walk a copy and, once the list
  // has changed, skip those that have left it meanwhile. Until then every
  // receiver is still owned, and a notice to many components stays linear.
  const std::vector<TComponent*> receivers(components_.rbegin(), components_.rend());
  const uint64_t changes = component_changes_;
  for (TComponent* receiver : receivers) {
    if (component_changes_ == changes || Owns(receiver))
      receiver->Notification(component, operation);
  }
}

void TComponent::Loaded() {
  state_.Exclude(csLoading);
}

void TComponent::JoinLoadingScope(TLoadingScope& scope) {
  if (loading_scope_ == nullptr) {
    loading_scope_ = &scope;
    state_.Include(csLoading);
    scope.Add(*this);
  }
  for (TComponent* component : components_) component->JoinLoadingScope(scope);
}

TLoadingScope::TLoadingScope(TComponent& root) {
  root.JoinLoadingScope(*this);
}

TLoadingScope::~TLoadingScope() {
  Abandon();
}

void TLoadingScope::End() {
  if (ended_) return;
  ended_ = true;
  for (std::size_t i = 0; i < components_.size(); ++i) {
    TComponent* component = components_[i];
    if (component == nullptr) continue;
    components_[i] = nullptr;
    component->loading_scope_ = nullptr;
    try {
      component->Loaded();
    } catch (...) {
      Abandon();
      throw;
    }
  }
  components_.clear();
}

void TLoadingScope::Add(TComponent& component) {
  components_.push_back(&component);
}

void TLoadingScope::Forget(TComponent& component) {
  std::replace(components_.begin(), components_.end(), &component,
               static_cast<TComponent*>(nullptr));
}

void TLoadingScope::Abandon() {
  ended_ = true;
  for (TComponent* component : components_) {
    if (component == nullptr) continue;
    component->loading_scope_ = nullptr;
    component->state_.Exclude(csLoading);
  }
  components_.clear();
}

}  // namespace jw
