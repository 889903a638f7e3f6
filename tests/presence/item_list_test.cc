#include <voicecontrol/presence/item_list.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace voicecontrol {
namespace {

// Records its own destruction in a shared log.
class LoggedItem : public ListItem {
 public:
  LoggedItem(std::vector<std::string>* log, std::string name) : log_(log), name_(std::move(name)) {}
  ~LoggedItem() override { log_->push_back(name_); }
  const std::string& name() const { return name_; }

 private:
  std::vector<std::string>* log_;
  std::string name_;
};

std::string NameAt(const ItemList& list, int position) {
  const ListItem* item = list.GetAt(position);
  return item ? static_cast<const LoggedItem*>(item)->name() : "(null)";
}

TEST(ItemListTest, AppendAndPositions) {
  std::vector<std::string> log;
  ItemList list;
  EXPECT_EQ(list.GetCount(), 0);
  EXPECT_EQ(list.GetHead(), nullptr);
  EXPECT_EQ(list.GetTail(), nullptr);
  for (const char* name : {"one", "two", "three"}) list.Append(new LoggedItem(&log, name));
  EXPECT_EQ(list.GetCount(), 3);
  EXPECT_EQ(NameAt(list, 1), "one");
  EXPECT_EQ(NameAt(list, 2), "two");
  EXPECT_EQ(NameAt(list, 3), "three");
  EXPECT_EQ(list.GetAt(3), list.GetTail());
  EXPECT_EQ(list.GetAt(1), list.GetHead());
  EXPECT_EQ(list.GetAt(0), nullptr);
  EXPECT_EQ(list.GetAt(-1), nullptr);
  EXPECT_EQ(list.GetAt(4), nullptr);
  EXPECT_EQ(list.GetNext(list.GetHead()), list.GetAt(2));
  EXPECT_EQ(list.GetNext(list.GetTail()), nullptr);
  EXPECT_EQ(list.GetNext(nullptr), nullptr);
  EXPECT_TRUE(log.empty());
}

TEST(ItemListTest, RemoveAllAndStartAgain) {
  std::vector<std::string> log;
  ItemList list;
  list.RemoveAll();  // empty: nothing happens
  EXPECT_EQ(list.GetCount(), 0);
  list.Append(new LoggedItem(&log, "a"));
  list.Append(new LoggedItem(&log, "b"));
  list.RemoveAll();
  EXPECT_EQ(log, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(list.GetCount(), 0);
  EXPECT_EQ(list.GetHead(), nullptr);
  EXPECT_EQ(list.GetTail(), nullptr);
  ListItem* fresh = new LoggedItem(&log, "c");
  list.Append(fresh);
  EXPECT_EQ(list.GetHead(), fresh);
  EXPECT_EQ(list.GetTail(), fresh);
  EXPECT_EQ(list.GetCount(), 1);
}

TEST(ItemListTest, DestructionDeletesEachItemOnceInOrder) {
  std::vector<std::string> log;
  {
    ItemList list;
    for (const char* name : {"x", "y", "z"}) list.Append(new LoggedItem(&log, name));
  }
  EXPECT_EQ(log, (std::vector<std::string>{"x", "y", "z"}));
}

TEST(ItemListTest, CopiedItemStartsOutsideAnyList) {
  std::vector<std::string> log;
  ItemList list;
  LoggedItem* first = new LoggedItem(&log, "first");
  list.Append(first);
  list.Append(new LoggedItem(&log, "second"));
  // The copy does not inherit the original's link, so it can join a list.
  ItemList other;
  other.Append(new LoggedItem(*first));
  EXPECT_EQ(other.GetNext(other.GetHead()), nullptr);
  EXPECT_EQ(other.GetCount(), 1);
}

}  // namespace
}  // namespace voicecontrol
