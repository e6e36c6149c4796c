#include "platform/Component.h"

#include <gtest/gtest.h>

namespace driftpost {
namespace {

struct Recorder : TComponent {
  using TComponent::TComponent;
  ~Recorder() override {
    if (destroyed) destroyed->push_back(Name());
  }
  void Notification(TComponent* component, TOperation operation) override {
    if (log) log->push_back(Name() + (operation == TOperation::opInsert ? " +" : " -") + component->Name());
    TComponent::Notification(component, operation);
  }
  std::vector<std::string>* log = nullptr;
  std::vector<std::string>* destroyed = nullptr;
};

TEST(ComponentTest, OwnerFreesWhatItOwnsLastFirst) {
  std::vector<std::string> destroyed;
  auto* owner = new Recorder();
  owner->SetName("owner");
  for (const char* name : {"a", "b", "c"}) {
    auto* child = new Recorder(owner);
    child->SetName(name);
    child->destroyed = &destroyed;
  }
  EXPECT_EQ(owner->ComponentCount(), 3);
  delete owner;
  EXPECT_EQ(destroyed, (std::vector<std::string>{"c", "b", "a"}));
}

TEST(ComponentTest, InsertAndRemoveAreAnnouncedToTheOwnerAndItsComponents) {
  std::vector<std::string> log;
  Recorder owner;
  owner.SetName("server");
  owner.log = &log;
  auto* listener = new Recorder(&owner);
  listener->SetName("listener");
  listener->log = &log;
  log.clear();

  auto* client = new Recorder();
  client->SetName("client");
  owner.InsertComponent(client);
  EXPECT_EQ(log, (std::vector<std::string>{"server +client", "listener +client"}));
  EXPECT_EQ(client->Owner(), &owner);

  log.clear();
  delete client;  // leaves its owner on destruction
  EXPECT_EQ(owner.ComponentCount(), 1);
  EXPECT_EQ(log.size(), 2u);
}

TEST(ComponentTest, InsertingIntoAnotherOwnerMovesTheComponent) {
  TComponent first, second;
  auto* child = new TComponent(&first);
  second.InsertComponent(child);
  EXPECT_EQ(first.ComponentCount(), 0);
  EXPECT_EQ(second.ComponentCount(), 1);
  EXPECT_EQ(child->Owner(), &second);
  second.RemoveComponent(child);
  EXPECT_EQ(child->Owner(), nullptr);
  delete child;
}

}  // namespace
}  // namespace driftpost
