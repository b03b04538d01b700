#include "platform/rtl/component.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace jw {
namespace {

// A component that writes what happens to it into a shared log.
class TProbe : public TComponent {
 public:
  TProbe(TComponent* owner, const std::string& name, std::vector<std::string>* log)
      : TComponent(owner), log_(log) {
    SetName(name);
  }
  ~TProbe() override { Log("~" + Name()); }

  void Notification(TComponent* component, TOperation operation) override {
    Log(Name() + (operation == opInsert ? " +" : " -") + component->Name());
    if (OnNotify) OnNotify(component, operation);
    TComponent::Notification(component, operation);
  }
  void Loaded() override {
    Log("Loaded " + Name() + (ComponentState().Contains(csLoading) ? " (loading)" : ""));
    if (OnLoaded) OnLoaded();
    TComponent::Loaded();
  }

  std::function<void(TComponent*, TOperation)> OnNotify;
  std::function<void()> OnLoaded;

 private:
  void Log(const std::string& line) {
    if (log_ != nullptr) log_->push_back(line);
  }
  std::vector<std::string>* log_;
};

using Log = std::vector<std::string>;

// --- Ownership and destruction ---------------------------------------------

TEST(ComponentOwnership, OwnerListsComponentsInCreationOrder) {
  TComponent owner(nullptr);
  auto* a = new TProbe(&owner, "Alpha", nullptr);
  auto* b = new TProbe(&owner, "Beta", nullptr);
  ASSERT_EQ(owner.ComponentCount(), 2);
  EXPECT_EQ(owner.Components(0), a);
  EXPECT_EQ(owner.Components(1), b);
  EXPECT_EQ(a->Owner(), &owner);
  EXPECT_EQ(owner.Owner(), nullptr);
}

TEST(ComponentOwnership, ComponentsOutsideTheListRaiseListError) {
  TComponent owner(nullptr);
  new TComponent(&owner);
  for (int index : {-1, 1}) {
    try {
      owner.Components(index);
      FAIL() << "index " << index;
    } catch (const EListError& e) {
      EXPECT_EQ(e.Message(), "List index out of bounds (" + std::to_string(index) + ")");
    }
  }
}

TEST(ComponentOwnership, OwnerDestroysOwnedComponentsLastCreatedFirst) {
  Log log;
  {
    TComponent owner(nullptr);
    new TProbe(&owner, "First", &log);
    auto* second = new TProbe(&owner, "Second", &log);
    new TProbe(second, "Inner", &log);
    new TProbe(&owner, "Third", &log);
    log.clear();
  }
  // Each component's own destructor runs before the ones of what it owns.
  const Log expected = {"~Third", "~Second", "~Inner", "~First"};
  Log destructions;
  for (const auto& line : log) {
    if (line[0] == '~') destructions.push_back(line);
  }
  EXPECT_EQ(destructions, expected);
}

TEST(ComponentOwnership, DeletingAComponentTakesItOutOfItsOwner) {
  Log log;
  TComponent owner(nullptr);
  auto* a = new TProbe(&owner, "A", &log);
  auto* b = new TProbe(&owner, "B", &log);
  log.clear();
  delete a;
  ASSERT_EQ(owner.ComponentCount(), 1);
  EXPECT_EQ(owner.Components(0), b);
  EXPECT_EQ(owner.FindComponent("A"), nullptr);
  EXPECT_EQ(log, (Log{"~A", "B -A"}));
}

TEST(ComponentOwnership, DestroyingAComponentMarksItAndWhatItOwns) {
  TComponent owner(nullptr);
  auto* parent = new TProbe(&owner, "Parent", nullptr);
  auto* child = new TProbe(parent, "Child", nullptr);
  bool child_saw_destroying = false;
  auto* watcher = new TProbe(&owner, "Watcher", nullptr);
  watcher->FreeNotification(child);
  watcher->OnNotify = [&](TComponent* component, TOperation operation) {
    if (component == child && operation == opRemove) {
      child_saw_destroying = child->ComponentState().Contains(csDestroying) &&
                             parent->ComponentState().Contains(csDestroying);
    }
  };
  delete parent;
  EXPECT_TRUE(child_saw_destroying);
}

TEST(ComponentOwnership, AComponentCannotOwnItselfOrItsOwner) {
  TComponent root(nullptr);
  auto* child = new TComponent(&root);
  EXPECT_THROW(child->InsertComponent(&root), EComponentError);
  EXPECT_THROW(child->InsertComponent(child), EComponentError);
  EXPECT_EQ(root.Owner(), nullptr);
  EXPECT_EQ(child->Owner(), &root);
}

TEST(ComponentOwnership, InsertingMovesAComponentFromItsOldOwner) {
  TComponent first(nullptr);
  TComponent second(nullptr);
  auto* moved = new TComponent(&first);
  second.InsertComponent(moved);
  EXPECT_EQ(first.ComponentCount(), 0);
  ASSERT_EQ(second.ComponentCount(), 1);
  EXPECT_EQ(moved->Owner(), &second);
}

TEST(ComponentOwnership, DesigningReachesEveryOwnedComponent) {
  TComponent root(nullptr);
  auto* child = new TComponent(&root);
  auto* grandchild = new TComponent(child);
  root.SetDesigning(true);
  EXPECT_TRUE(grandchild->ComponentState().Contains(csDesigning));
  root.SetDesigning(false);
  EXPECT_TRUE(grandchild->ComponentState().Empty());
}

// --- Names -----------------------------------------------------------------

TEST(ComponentNames, FindComponentIgnoresAsciiCase) {
  TComponent owner(nullptr);
  auto* button = new TProbe(&owner, "OkButton", nullptr);
  EXPECT_EQ(owner.FindComponent("okbutton"), button);
  EXPECT_EQ(owner.FindComponent("OKBUTTON"), button);
  EXPECT_EQ(owner.FindComponent("OkButto"), nullptr);
  EXPECT_EQ(owner.FindComponent(""), nullptr);
}

TEST(ComponentNames, SiblingNamesMustDifferWithoutCase) {
  TComponent owner(nullptr);
  new TProbe(&owner, "Button1", nullptr);
  auto* other = new TProbe(&owner, "", nullptr);
  try {
    other->SetName("BUTTON1");
    FAIL();
  } catch (const EComponentError& e) {
    EXPECT_EQ(e.Message(), "A component named BUTTON1 already exists");
  }
  EXPECT_EQ(other->Name(), "");
  // Components of different owners, and unnamed siblings, may share a name.
  new TProbe(&owner, "", nullptr);
  TComponent elsewhere(nullptr);
  EXPECT_NO_THROW(new TProbe(&elsewhere, "Button1", nullptr));
}

TEST(ComponentNames, RenamingToAnotherCaseOfTheOwnNameIsAllowed) {
  TComponent owner(nullptr);
  auto* c = new TProbe(&owner, "Memo", nullptr);
  c->SetName("MEMO");
  EXPECT_EQ(c->Name(), "MEMO");
}

TEST(ComponentNames, InsertingAComponentWhoseNameIsTakenFailsAndLeavesItFree) {
  TComponent owner(nullptr);
  new TProbe(&owner, "Table1", nullptr);
  TProbe loose(nullptr, "table1", nullptr);
  try {
    owner.InsertComponent(&loose);
    FAIL();
  } catch (const EComponentError& e) {
    EXPECT_EQ(e.Message(), "A component named table1 already exists");
  }
  EXPECT_EQ(loose.Owner(), nullptr);
  EXPECT_EQ(owner.ComponentCount(), 1);
}

TEST(ComponentNames, NamesMustBeIdentifiers) {
  struct Case {
    std::string name;
    bool valid;
  };
  const Case cases[] = {
      {"Form1", true},
      {"_x", true},
      {"a_1_B", true},
      {"x", true},
      {"1abc", false},
      {"a b", false},
      {"a-b", false},
      {"a.b", false},
      {" a", false},
      {"caf\xC3\xA9", false},
      {"\xC3\xA9t\xC3\xA9", false},
      {"$a", false},
  };
  for (const Case& c : cases) {
    TComponent component(nullptr);
    if (c.valid) {
      EXPECT_NO_THROW(component.SetName(c.name)) << c.name;
      EXPECT_EQ(component.Name(), c.name);
    } else {
      try {
        component.SetName(c.name);
        ADD_FAILURE() << c.name;
      } catch (const EComponentError& e) {
        EXPECT_EQ(e.Message(), "'" + c.name + "' is not a valid component name");
      }
      EXPECT_EQ(component.Name(), "");
    }
  }
}

// --- Notifications ---------------------------------------------------------

TEST(ComponentNotification, CreationTellsTheOwnerAndItsComponentsLastFirst) {
  Log log;
  TProbe owner(nullptr, "Owner", &log);
  auto* a = new TProbe(&owner, "A", &log);
  new TProbe(a, "A1", &log);
  new TProbe(&owner, "B", &log);
  log.clear();
  // The new component is still being built, so only its TComponent part
  // hears about itself.
  new TProbe(&owner, "", &log);
  EXPECT_EQ(log, (Log{"Owner +", "B +", "A +", "A1 +"}));
}

TEST(ComponentNotification, InsertComponentTellsEveryOwnedComponentIncludingTheNewOne) {
  Log log;
  TProbe owner(nullptr, "Owner", &log);
  new TProbe(&owner, "A", &log);
  auto* loose = new TProbe(nullptr, "New", &log);
  log.clear();
  owner.InsertComponent(loose);
  EXPECT_EQ(log, (Log{"Owner +New", "New +New", "A +New"}));
}

TEST(ComponentNotification, RemoveComponentTellsAllThenReleasesWithoutDeleting) {
  Log log;
  TProbe owner(nullptr, "Owner", &log);
  auto* a = new TProbe(&owner, "A", &log);
  new TProbe(&owner, "B", &log);
  log.clear();
  owner.RemoveComponent(a);
  EXPECT_EQ(log, (Log{"Owner -A", "B -A", "A -A"}));
  EXPECT_EQ(a->Owner(), nullptr);
  EXPECT_EQ(owner.ComponentCount(), 1);
  std::unique_ptr<TProbe> owned(a);
}

TEST(ComponentNotification, FreeNotificationWorksInBothDirections) {
  for (bool delete_x_first : {true, false}) {
    Log log;
    auto* x = new TProbe(nullptr, "X", &log);
    auto* y = new TProbe(nullptr, "Y", &log);
    x->FreeNotification(y);
    log.clear();
    TProbe* gone = delete_x_first ? x : y;
    TProbe* stays = delete_x_first ? y : x;
    const std::string gone_name = gone->Name();
    const std::string stays_name = stays->Name();
    delete gone;
    EXPECT_EQ(log, (Log{"~" + gone_name, stays_name + " -" + gone_name}));
    log.clear();
    delete stays;  // must not reach the deleted partner
    EXPECT_EQ(log, (Log{"~" + stays_name}));
  }
}

TEST(ComponentNotification, RemoveFreeNotificationStopsTheNotice) {
  Log log;
  TProbe x(nullptr, "X", &log);
  auto* y = new TProbe(nullptr, "Y", &log);
  x.FreeNotification(y);
  x.RemoveFreeNotification(y);
  log.clear();
  delete y;
  EXPECT_EQ(log, (Log{"~Y"}));
}

TEST(ComponentNotification, ANoticeOfRemovalEndsTheFreeNotification) {
  // The base Notification forgets a partner on opRemove: once a component
  // has heard that a sibling left, the sibling's later end is not reported.
  Log log;
  TProbe owner(nullptr, "Owner", &log);
  auto* menu = new TProbe(&owner, "Menu", &log);
  auto* icon = new TProbe(&owner, "Icon", &log);
  icon->FreeNotification(menu);
  owner.RemoveComponent(menu);
  log.clear();
  delete menu;
  EXPECT_EQ(log, (Log{"~Menu"}));
}

TEST(ComponentNotification, AReceiverMayDestroyASiblingWhileNotified) {
  Log log;
  auto owner = std::make_unique<TProbe>(nullptr, "Owner", &log);
  auto* a = new TProbe(owner.get(), "A", &log);
  new TProbe(owner.get(), "B", &log);
  auto* c = new TProbe(owner.get(), "C", &log);
  // C hears first (last created first) and destroys A, which has not been
  // told yet; A must not be told afterwards.
  c->OnNotify = [&](TComponent*, TOperation operation) {
    if (operation == opInsert && a != nullptr) {
      TProbe* victim = a;
      a = nullptr;
      delete victim;
    }
  };
  log.clear();
  new TProbe(owner.get(), "D", &log);
  for (const auto& line : log) EXPECT_NE(line, "A +D");
  EXPECT_EQ(owner->ComponentCount(), 3);
  // Destroying the owner while a component destroys a sibling in its
  // notice is safe as well.
  auto* b = owner->FindComponent("B");
  c->OnNotify = [&](TComponent*, TOperation operation) {
    if (operation == opRemove && b != nullptr) {
      TComponent* victim = b;
      b = nullptr;
      delete victim;
    }
  };
  owner.reset();
  EXPECT_EQ(b, nullptr);
}

TEST(ComponentNotification, AFreeNotificationPartnerMayDestroyAnotherPartner) {
  Log log;
  auto* subject = new TProbe(nullptr, "Subject", &log);
  auto* first = new TProbe(nullptr, "First", &log);
  auto* second = new TProbe(nullptr, "Second", &log);
  subject->FreeNotification(first);
  subject->FreeNotification(second);
  // Second hears first (the last registered) and destroys First, which is
  // still waiting for its notice.
  second->OnNotify = [&](TComponent* component, TOperation operation) {
    if (component == subject && operation == opRemove && first != nullptr) {
      TProbe* victim = first;
      first = nullptr;
      delete victim;
    }
  };
  log.clear();
  delete subject;
  EXPECT_EQ(first, nullptr);
  EXPECT_EQ(log, (Log{"~Subject", "Second -Subject", "~First"}));
  delete second;
}

// --- Loading scope ---------------------------------------------------------

std::vector<std::string> LoadedLines(const Log& log) {
  std::vector<std::string> lines;
  for (const auto& line : log) {
    if (line.rfind("Loaded", 0) == 0) lines.push_back(line);
  }
  return lines;
}

TEST(LoadingScope, LoadsTheTreeThenNewComponentsInCreationOrder) {
  Log log;
  TProbe root(nullptr, "Root", &log);
  auto* a = new TProbe(&root, "A", &log);
  new TProbe(a, "A1", &log);
  new TProbe(&root, "B", &log);
  TLoadingScope scope(root);
  EXPECT_TRUE(root.ComponentState().Contains(csLoading));
  auto* c = new TProbe(a, "C", &log);  // joins through its owner
  new TProbe(&root, "D", &log);
  EXPECT_TRUE(c->ComponentState().Contains(csLoading));
  EXPECT_TRUE(LoadedLines(log).empty());
  scope.End();
  EXPECT_EQ(LoadedLines(log),
            (Log{"Loaded Root (loading)", "Loaded A (loading)", "Loaded A1 (loading)",
                 "Loaded B (loading)", "Loaded C (loading)", "Loaded D (loading)"}));
  for (int i = 0; i < root.ComponentCount(); ++i) {
    EXPECT_FALSE(root.Components(i)->ComponentState().Contains(csLoading));
  }
  EXPECT_FALSE(c->ComponentState().Contains(csLoading));
}

TEST(LoadingScope, ComponentsOutsideTheTreeDoNotJoin) {
  Log log;
  TProbe root(nullptr, "Root", &log);
  TProbe outsider(nullptr, "Outsider", &log);
  TLoadingScope scope(root);
  auto* child = new TProbe(&outsider, "Child", &log);
  EXPECT_FALSE(child->ComponentState().Contains(csLoading));
  scope.End();
  EXPECT_EQ(LoadedLines(log), (Log{"Loaded Root (loading)"}));
}

TEST(LoadingScope, AComponentDestroyedWhileLoadingIsSkipped) {
  Log log;
  TProbe root(nullptr, "Root", &log);
  TLoadingScope scope(root);
  auto* doomed = new TProbe(&root, "Doomed", &log);
  new TProbe(&root, "Kept", &log);
  delete doomed;
  scope.End();
  EXPECT_EQ(LoadedLines(log), (Log{"Loaded Root (loading)", "Loaded Kept (loading)"}));
}

TEST(LoadingScope, ALoadedMayDestroyAComponentNotLoadedYet) {
  Log log;
  TProbe root(nullptr, "Root", &log);
  TLoadingScope scope(root);
  auto* first = new TProbe(&root, "First", &log);
  auto* second = new TProbe(&root, "Second", &log);
  first->OnLoaded = [&] { delete second; };
  scope.End();
  EXPECT_EQ(LoadedLines(log), (Log{"Loaded Root (loading)", "Loaded First (loading)"}));
}

TEST(LoadingScope, ComponentsCreatedByLoadedAreNotLoading) {
  Log log;
  TProbe root(nullptr, "Root", &log);
  TLoadingScope scope(root);
  TComponent* made = nullptr;
  root.OnLoaded = [&] { made = new TProbe(&root, "Late", &log); };
  scope.End();
  ASSERT_NE(made, nullptr);
  EXPECT_FALSE(made->ComponentState().Contains(csLoading));
  EXPECT_EQ(LoadedLines(log), (Log{"Loaded Root (loading)"}));
}

TEST(LoadingScope, WithoutEndTheStateClearsAndNothingIsLoaded) {
  Log log;
  TProbe root(nullptr, "Root", &log);
  auto* child = new TProbe(&root, "Child", &log);
  { TLoadingScope scope(root); }
  EXPECT_TRUE(LoadedLines(log).empty());
  EXPECT_FALSE(root.ComponentState().Contains(csLoading));
  EXPECT_FALSE(child->ComponentState().Contains(csLoading));
  // A later scope takes the tree again.
  TLoadingScope again(root);
  again.End();
  EXPECT_EQ(LoadedLines(log).size(), 2u);
}

TEST(LoadingScope, AFailingLoadedStopsTheRestAndClearsTheirState) {
  Log log;
  TProbe root(nullptr, "Root", &log);
  auto* bad = new TProbe(&root, "Bad", &log);
  auto* after = new TProbe(&root, "After", &log);
  bad->OnLoaded = [] { throw std::runtime_error("cannot open"); };
  TLoadingScope scope(root);
  EXPECT_THROW(scope.End(), std::runtime_error);
  EXPECT_EQ(LoadedLines(log), (Log{"Loaded Root (loading)", "Loaded Bad (loading)"}));
  EXPECT_FALSE(after->ComponentState().Contains(csLoading));
  scope.End();  // already ended: nothing more
  EXPECT_EQ(LoadedLines(log).size(), 2u);
}

TEST(LoadingScope, AnInnerScopeLeavesLoadingComponentsToTheOuterOne) {
  Log log;
  TProbe root(nullptr, "Root", &log);
  auto* part = new TProbe(&root, "Part", &log);
  TLoadingScope outer(root);
  {
    TLoadingScope inner(*part);
    new TProbe(part, "Piece", &log);
    inner.End();
  }
  EXPECT_TRUE(LoadedLines(log).empty());
  outer.End();
  EXPECT_EQ(LoadedLines(log),
            (Log{"Loaded Root (loading)", "Loaded Part (loading)", "Loaded Piece (loading)"}));
}

// --- Assign ----------------------------------------------------------------

class TAlpha : public TPersistent {};
class TBeta : public TPersistent {
 public:
  int copied = 0;
};
// Knows how to copy itself into a TBeta, which does not know TGamma.
class TGamma : public TPersistent {
 protected:
  void AssignTo(TPersistent& dest) override {
    if (auto* beta = dynamic_cast<TBeta*>(&dest)) {
      beta->copied = 7;
      return;
    }
    TPersistent::AssignTo(dest);
  }
};

TEST(PersistentAssign, UnknownPairsRaiseConvertErrorNamingBothClasses) {
  TAlpha alpha;
  TBeta beta;
  try {
    beta.Assign(&alpha);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TAlpha to a TBeta");
  }
  try {
    beta.Assign(nullptr);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a nil to a TBeta");
  }
  TComponent component(nullptr);
  try {
    component.Assign(&beta);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TBeta to a TComponent");
  }
}

TEST(PersistentAssign, TheSourceMayKnowThePair) {
  TGamma gamma;
  TBeta beta;
  beta.Assign(&gamma);
  EXPECT_EQ(beta.copied, 7);
  TAlpha alpha;
  EXPECT_THROW(alpha.Assign(&gamma), EConvertError);
}

TEST(PersistentAssign, ClassNameIsTheDynamicClassWithoutNamespace) {
  TBeta beta;
  const TPersistent& base = beta;
  EXPECT_EQ(base.ClassName(), "TBeta");
  TComponent component(nullptr);
  EXPECT_EQ(component.ClassName(), "TComponent");
}

}  // namespace
}  // namespace jw
