// TComponent: a named persistent object with an owner that destroys it, the
// notifications between components, and TLoadingScope, which holds a tree of
// components in the loading state while a form or data module is built and
// then calls Loaded on each in creation order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/persistent.h"

namespace jw {

// A name that is not an identifier or that a sibling already holds.
class EComponentError : public Exception {
  using Exception::Exception;
};

enum TComponentStateItem : uint8_t {
  csLoading,     // inside a loading scope; cleared by Loaded
  csDesigning,   // held by a design tool; never set by the program itself
  csDestroying,  // the destructor has started
};

// A set of TComponentStateItem.
class TComponentState {
 public:
  bool Contains(TComponentStateItem item) const { return (bits_ & Bit(item)) != 0; }
  void Include(TComponentStateItem item) { bits_ |= Bit(item); }
  void Exclude(TComponentStateItem item) { bits_ &= ~Bit(item); }
  bool Empty() const { return bits_ == 0; }
  bool operator==(const TComponentState&) const = default;

 private:
  static uint8_t Bit(TComponentStateItem item) { return static_cast<uint8_t>(1u << item); }
  uint8_t bits_ = 0;
};

enum TOperation : uint8_t { opInsert, opRemove };

class TLoadingScope;

// A component with an owner lives on the heap: the owner deletes it. One
// without an owner belongs to whoever made it. Deleting a component directly
// is allowed; it leaves its owner first.
//
// C++ runs the TComponent constructor before the derived ones, so the
// opInsert notification that creation sends reaches the receivers while the
// new component is only a TComponent: they may keep the pointer, but a cast
// to the derived class fails until construction is complete. The same holds
// for opRemove sent from the TComponent destructor.
class TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* owner);
  ~TComponent() override;

  TComponent* Owner() const { return owner_; }
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  // The i-th owned component in creation order; EListError outside the list.
  TComponent* Components(int index) const;
  // The owned component whose name equals name without ASCII case; null when
  // there is none or the name is empty.
  TComponent* FindComponent(const std::string& name) const;

  const std::string& Name() const { return name_; }
  // Raises EComponentError when the name is neither empty nor an identifier
  // (a letter or '_', then letters, digits and '_'), or when another
  // component of the same owner holds it (without ASCII case).
  virtual void SetName(const std::string& name);

  TComponentState ComponentState() const { return state_; }
  // Sets or clears csDesigning on this component and all it owns.
  void SetDesigning(bool designing);

  int64_t Tag() const { return tag_; }
  void SetTag(int64_t tag) { tag_ = tag; }

  // Takes component into the owned list (leaving its old owner first) and
  // sends opInsert through this owner's Notification.
  void InsertComponent(TComponent* component);
  // Sends opRemove through this owner's Notification, then drops component
  // from the owned list; the component is not deleted and has no owner after.
  void RemoveComponent(TComponent* component);
  // Deletes every owned component, the last created first.
  void DestroyComponents();

  // Asks for Notification(component, opRemove) when component is destroyed;
  // component is told likewise when this one is destroyed.
  void FreeNotification(TComponent* component);
  // Undoes FreeNotification in both directions.
  void RemoveFreeNotification(TComponent* component);

  // Sets csDestroying on this component and all it owns. The destructor does
  // it; a derived destructor may call it first so that the components it
  // releases see the state early.
  void Destroying();

  // Tells this component that component was inserted into or removed from
  // its owner, or that a free-notification partner is going away. The base
  // forgets a partner on opRemove and passes the notice on to every owned
  // component (the last created first). Overrides call the base.
  virtual void Notification(TComponent* component, TOperation operation);

  // Called once the loading scope ends; the base clears csLoading.
  virtual void Loaded();

 private:
  friend class TLoadingScope;

  // Enters the loading state of scope with this component and all it owns
  // that are not loading yet.
  void JoinLoadingScope(TLoadingScope& scope);
  bool Owns(const TComponent* component) const;

  TComponent* owner_ = nullptr;
  std::vector<TComponent*> components_;  // owned, in creation order
  // Counts every insertion into and removal from components_.
  uint64_t component_changes_ = 0;
  std::vector<TComponent*> free_notifies_;
  std::string name_;
  TComponentState state_;
  int64_t tag_ = 0;
  TLoadingScope* loading_scope_ = nullptr;  // the scope that will call Loaded
};

// Puts root and every component it owns (recursively) into csLoading, and so
// every component that is inserted into that tree while the scope is open.
// End() calls Loaded on each of them in the order in which they joined: the
// existing tree first (each owner before what it owns), then new components
// in creation order. Components that are already loading stay with the scope
// that holds them.
//
// Loaded may raise, and a destructor must not, so the scope ends through
// End(). When the scope is destroyed without End() (an exception left the
// building code), the components leave the loading state without Loaded.
class TLoadingScope {
 public:
  explicit TLoadingScope(TComponent& root);
  TLoadingScope(const TLoadingScope&) = delete;
  TLoadingScope& operator=(const TLoadingScope&) = delete;
  ~TLoadingScope();

  // Calls Loaded on each component of the scope in order. A component
  // destroyed meanwhile is skipped. When a Loaded raises, the components not
  // reached yet leave the loading state without Loaded and the exception
  // passes on.
  void End();

 private:
  friend class TComponent;

  void Add(TComponent& component);
  void Forget(TComponent& component);
  // Takes the components out of the loading state without calling Loaded.
  void Abandon();

  std::vector<TComponent*> components_;  // null where one was destroyed
  bool ended_ = false;
};

}  // namespace jw
