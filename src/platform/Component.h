// TComponent: a named object that may be owned by another component. An owner frees what
// it owns when it is destroyed, and every component in an ownership tree hears when a
// component is inserted into or removed from an owner (Notification), which is how a server
// keeps its list of clients without a second bookkeeping of its own.
#pragma once

#include <string>

#include "platform/IndexedList.h"

namespace driftpost {

enum class TOperation { opInsert, opRemove };

class TComponent {
 public:
  explicit TComponent(TComponent* owner = nullptr);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  TComponent* Owner() const { return owner_; }

  int ComponentCount() const { return components_.Count(); }
  TComponent* Components(int index) const;

  // Takes ownership of `component`, removing it from its previous owner first.
  void InsertComponent(TComponent* component);
  // Gives up ownership of `component` without freeing it.
  void RemoveComponent(TComponent* component);

  // Frees every owned component, the last one first. A derived class whose Notification
  // must still see these removals calls this from its own destructor.
  void DestroyComponents();

 protected:
  // Called on the owner and, through it, on every component it owns, when `component` is
  // inserted into or removed from the owner. A component removed by its own destruction is
  // already partly destroyed when this runs: compare its address, call nothing on it.
  virtual void Notification(TComponent* component, TOperation operation);

 private:
  std::string name_;
  TComponent* owner_ = nullptr;
  TIndexedList<TComponent> components_;
};

}  // namespace driftpost
