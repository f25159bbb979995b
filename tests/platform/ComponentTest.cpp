#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Component.h"

using namespace pelicore;

namespace {

std::vector<std::string> Log;

class Probe : public TComponent {
 public:
  Probe(TComponent* AOwner, std::string AName) : TComponent(AOwner) { Name = std::move(AName); }
  virtual void Abort() { Log.push_back(Name + ".base-abort"); }

 protected:
  ~Probe() override { Log.push_back(Name + (IsDestroying() ? ".dtor(destroying)" : ".dtor")); }
  void BeforeDestruction() override { Abort(); }
};

class DerivedProbe : public Probe {
 public:
  using Probe::Probe;
  void Abort() override { Log.push_back(Name + ".derived-abort"); }

 protected:
  ~DerivedProbe() override = default;
};

}  // namespace

TEST(Component, OwnerFreesOwnedComponentsAfterItsOwnBody) {
  Log.clear();
  auto* Root = new Probe(nullptr, "root");
  new Probe(Root, "a");
  auto* B = new Probe(Root, "b");
  EXPECT_EQ(Root->ComponentCount(), 2);
  EXPECT_EQ(Root->Components(1), B);
  Root->Free();
  EXPECT_EQ(Log, (std::vector<std::string>{"root.base-abort", "root.dtor(destroying)", "b.base-abort",
                                           "b.dtor(destroying)", "a.base-abort", "a.dtor(destroying)"}));
}

TEST(Component, FreedChildLeavesItsOwner) {
  Log.clear();
  ComponentPtr<Probe> Root(new Probe(nullptr, "root"));
  auto* A = new Probe(Root.get(), "a");
  A->Free();
  EXPECT_EQ(Root->ComponentCount(), 0);
}

TEST(Component, BeforeDestructionReachesTheMostDerivedClass) {
  Log.clear();
  MakeComponent<DerivedProbe>(nullptr, "d").reset();
  ASSERT_FALSE(Log.empty());
  EXPECT_EQ(Log.front(), "d.derived-abort");
}

TEST(Component, DesignModeIsInheritedFromTheOwner) {
  ComponentPtr<Probe> Root(new Probe(nullptr, "root"));
  Root->SetDesigning(true);
  auto* A = new Probe(Root.get(), "a");
  EXPECT_TRUE(A->IsDesigning());
  Root->SetDesigning(false);
  EXPECT_FALSE(A->IsDesigning());
}
