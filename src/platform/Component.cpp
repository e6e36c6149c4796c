#include "platform/Component.h"

#include "platform/Exception.h"

namespace driftpost {

TComponent::TComponent(TComponent* owner) {
  if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  DestroyComponents();
  if (owner_) owner_->RemoveComponent(this);
}

TComponent* TComponent::Components(int index) const {
  if (index < 0 || index >= ComponentCount()) throw EListError::IndexOutOfBounds(index);
  return components_.At(index);
}

void TComponent::InsertComponent(TComponent* component) {
  if (!component || component->owner_ == this) return;
  if (component->owner_) component->owner_->RemoveComponent(component);
  components_.Add(component);
  component->owner_ = this;
  Notification(component, TOperation::opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
  if (!components_.Contains(component)) return;
  Notification(component, TOperation::opRemove);
  // The notification may have changed the list; Remove does nothing when it is gone.
  components_.Remove(component);
  component->owner_ = nullptr;
}

void TComponent::DestroyComponents() {
  while (TComponent* last = components_.Last()) {
    RemoveComponent(last);
    delete last;
  }
}

void TComponent::Notification(TComponent* component, TOperation operation) {
  // A component may free or re-own others while it is notified; those are skipped.
  components_.ForEachFromLast([&](TComponent* owned) { owned->Notification(component, operation); });
}

}  // namespace driftpost
