#pragma once
// The component base: a node in an ownership tree. An owner frees the
// components it owns when it is freed; a component freed on its own leaves its
// owner's list first. Components are freed through Free() (or ComponentPtr), so
// that BeforeDestruction() runs while the object is still whole and virtual
// calls there reach the most derived class.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pelicore {

enum class ComponentFlag : std::uint8_t {
  Loading = 1,     // its properties are being read from a stored form
  Destroying = 2,  // Free() has begun; no events are raised from here on
  Designing = 4,   // hosted by a form designer: no live resources
};

class TComponent {
 public:
  explicit TComponent(TComponent* AOwner);
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  // Frees the component: marks it (and what it owns) as destroying, runs
  // BeforeDestruction(), then deletes it. Free on nullptr does nothing.
  void Free();

  TComponent* Owner() const { return FOwner; }
  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  TComponent* Components(int Index) const;  // 0-based, throws ERangeError
  // Gives up ownership of a component it owns: it is no longer freed with
  // this one and has no owner any more.
  void RemoveComponent(TComponent* Child);

  std::string Name;

  bool HasState(ComponentFlag Flag) const {
    return (FState & static_cast<std::uint8_t>(Flag)) != 0;
  }
  bool IsDestroying() const { return HasState(ComponentFlag::Destroying); }
  bool IsDesigning() const { return HasState(ComponentFlag::Designing); }

  // Design mode is given to a component and everything it owns.
  void SetDesigning(bool Value);
  // Brackets reading stored properties; EndLoading() calls Loaded().
  void BeginLoading();
  void EndLoading();

 protected:
  virtual ~TComponent();
  // Runs first in Free(), with the whole object alive.
  virtual void BeforeDestruction() {}
  // Called when the stored properties have been read.
  virtual void Loaded() {}
  // Sets the destroying flag here and in every owned component.
  void Destroying();

 private:
  void Insert(TComponent* Child);
  void Remove(TComponent* Child);

  TComponent* FOwner;
  std::vector<TComponent*> FComponents;
  std::uint8_t FState = 0;
};

struct ComponentDeleter {
  void operator()(TComponent* C) const { C->Free(); }
};

// Owning pointer for a component that has no owner (or whose owner should not
// be the one that frees it).
template <class T>
using ComponentPtr = std::unique_ptr<T, ComponentDeleter>;

// The plain event: a bound callback taking the component that raises it;
// empty when unset.
using TNotifyEvent = std::function<void(TComponent* Sender)>;

template <class T, class... Args>
ComponentPtr<T> MakeComponent(Args&&... args) {
  return ComponentPtr<T>(new T(std::forward<Args>(args)...));
}

}  // namespace pelicore
