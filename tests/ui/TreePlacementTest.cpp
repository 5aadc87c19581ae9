// Dragging within the server and group trees: where each drop lands, as a table, carried
// out on the real trees.
#include <gtest/gtest.h>

#include <map>

#include "UiTestSupport.h"
#include "ui/TreePlacement.h"

namespace zev::ui {
namespace {

// Servers (root)
//   B (folder)
//     S3
//   D (folder)
//   S1
//   S2
class ServerDrops : public ::testing::Test {
 protected:
  void SetUp() override {
    TServerTree& t = *env.servers;
    TServer* root = t.Roots().front().get();
    nodes["root"] = root;
    nodes["D"] = t.CreateServerNode("D", snFolder, root);
    nodes["B"] = t.CreateServerNode("B", snFolder, root);
    nodes["S1"] = t.CreateServerNode("S1", snNewsServer, root);
    nodes["S2"] = t.CreateServerNode("S2", snNewsServer, root);
    nodes["S3"] = t.CreateServerNode("S3", snNewsServer, nodes["B"]);
    t.AdjustSlots(*nodes["S1"]);
  }

  // The children of a node as "name name ...".
  std::string Children(const std::string& name) {
    std::string out;
    for (const auto& c : nodes[name]->Children())
      if (!c->IsSlot()) out += (out.empty() ? "" : " ") + c->Name();
    return out;
  }

  bool Drop(const std::string& dragged, const std::string& target) {
    const FPlacement p = PlaceDrop(TServerPlacement(), nodes[dragged], nodes[target]);
    if (!p.accepted) return false;
    return env.servers->MoveNode(nodes[dragged], const_cast<TServer*>(static_cast<const TServer*>(p.parent)),
                                 const_cast<TServer*>(static_cast<const TServer*>(p.before)));
  }

  test::TUiEnvironment env;
  std::map<std::string, TServer*> nodes;
};

TEST_F(ServerDrops, PlacementTable) {
  struct FCase {
    const char* dragged;
    const char* target;
    bool accepted;
    const char* folder;    // whose children to look at afterwards
    const char* children;  // expected order
  } cases[] = {
      {"S2", "S1", true, "root", "B D S2 S1"},  // onto a server: just before it
      {"S1", "B", true, "B", "S3 S1"},          // a server onto a folder: its last child
      {"D", "B", true, "B", "D S3 S1"},         // a folder onto a folder: among its folders, by name
      {"D", "S2", true, "root", "B D S2"},      // a folder onto a server: onto the server's parent
      {"B", "S3", false, "B", "S3 S1"},         // never below itself
      {"root", "B", false, "root", "B D S2"},   // the root stays
      {"S3", "S3", true, "B", "S3 S1"},         // onto itself: nothing moves
  };
  for (const FCase& c : cases) {
    EXPECT_EQ(Drop(c.dragged, c.target), c.accepted) << c.dragged << " onto " << c.target;
    EXPECT_EQ(Children(c.folder), c.children) << c.dragged << " onto " << c.target;
  }
}

TEST_F(ServerDrops, AMovedNodeThatInheritsTakesItsNewFoldersSettings) {
  nodes["B"]->Exclude(sfInherit);
  nodes["B"]->Retry = 77;
  ASSERT_TRUE(nodes["S1"]->Has(sfInherit));
  ASSERT_TRUE(Drop("S1", "B"));
  EXPECT_EQ(nodes["S1"]->Parent(), nodes["B"]);
  EXPECT_EQ(nodes["S1"]->Retry.load(), 77u);
  env.servers->SaveServers();
  TServerTree reloaded(*env.ini);
  reloaded.LoadServers();
  const TServer& b = *reloaded.Roots().front()->Children().front();
  EXPECT_EQ(b.Name(), "B");
  EXPECT_EQ(b.Children().back()->Name(), "S1");
}

TEST(GroupDrops, NewsgroupsAndFolders) {
  test::TUiEnvironment env;
  TGroupTree& t = *env.groups;
  TGroup* root = t.Roots().front().get();
  TGroup* folder = t.CreateGroupNode(gnFolder, "pictures", root);
  TGroup* a = t.CreateGroupNode(gnNewsgroup, "alt.a", root);
  TGroup* b = t.CreateGroupNode(gnNewsgroup, "alt.b", root);
  auto drop = [&](TGroup* dragged, TGroup* target) {
    const FPlacement p = PlaceDrop(TGroupPlacement(), dragged, target);
    return p.accepted && t.MoveNode(dragged, const_cast<TGroup*>(static_cast<const TGroup*>(p.parent)),
                                    const_cast<TGroup*>(static_cast<const TGroup*>(p.before)));
  };
  auto names = [](TGroup* n) {
    std::string out;
    for (const auto& c : n->Children()) out += (out.empty() ? "" : " ") + c->Name();
    return out;
  };
  EXPECT_TRUE(drop(b, a));
  EXPECT_EQ(names(root), "pictures alt.b alt.a");
  EXPECT_TRUE(drop(a, folder));
  EXPECT_EQ(names(folder), "alt.a");
  EXPECT_FALSE(drop(folder, a));  // a folder onto its own child
  EXPECT_FALSE(drop(root, folder));
}

}  // namespace
}  // namespace zev::ui
