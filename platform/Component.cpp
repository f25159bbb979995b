#include "platform/Component.h"

#include <algorithm>

#include "platform/Exceptions.h"
#include "platform/Strings.h"

namespace pelicore {

TComponent::TComponent(TComponent* AOwner) : FOwner(AOwner) {
  if (FOwner) {
    FOwner->Insert(this);
    if (FOwner->IsDesigning()) FState |= static_cast<std::uint8_t>(ComponentFlag::Designing);
  }
}

TComponent::~TComponent() {
  // Owned components go first, newest first, each through its own Free().
  while (!FComponents.empty()) {
    TComponent* Child = FComponents.back();
    Child->Free();  // removes itself from FComponents
  }
  if (FOwner) FOwner->Remove(this);
}

void TComponent::Free() {
  Destroying();
  BeforeDestruction();
  delete this;
}

TComponent* TComponent::Components(int Index) const {
  if (Index < 0 || Index >= ComponentCount()) throw ERangeError("List index out of bounds (" + IntToStr(Index) + ")");
  return FComponents[static_cast<std::size_t>(Index)];
}

void TComponent::Destroying() {
  if (IsDestroying()) return;
  FState |= static_cast<std::uint8_t>(ComponentFlag::Destroying);
  for (TComponent* Child : FComponents) Child->Destroying();
}

void TComponent::SetDesigning(bool Value) {
  if (Value)
    FState |= static_cast<std::uint8_t>(ComponentFlag::Designing);
  else
    FState &= static_cast<std::uint8_t>(~static_cast<std::uint8_t>(ComponentFlag::Designing));
  for (TComponent* Child : FComponents) Child->SetDesigning(Value);
}

void TComponent::BeginLoading() { FState |= static_cast<std::uint8_t>(ComponentFlag::Loading); }

void TComponent::EndLoading() {
  FState &= static_cast<std::uint8_t>(~static_cast<std::uint8_t>(ComponentFlag::Loading));
  Loaded();
}

void TComponent::RemoveComponent(TComponent* Child) {
  if (!Child || Child->FOwner != this) return;
  Remove(Child);
  Child->FOwner = nullptr;
}

void TComponent::Insert(TComponent* Child) { FComponents.push_back(Child); }

void TComponent::Remove(TComponent* Child) {
  auto It = std::find(FComponents.begin(), FComponents.end(), Child);
  if (It != FComponents.end()) FComponents.erase(It);
}

}  // namespace pelicore
