#include <voicecontrol/presence/item_list.h>

#include <cassert>

namespace voicecontrol {

ListItem::~ListItem() = default;

ItemList::~ItemList() { DeleteItems(); }

void ItemList::Append(ListItem* item) {
  assert(item != nullptr);
  assert(item->next == nullptr);
  if (item == nullptr) return;
  if (count == 0) {
    head = tail = item;
    count = 1;
    return;
  }
  ++count;
  tail->next = item;
  tail = item;
}

void ItemList::RemoveAll() {
  DeleteItems();
  head = tail = nullptr;
  count = 0;
}

void ItemList::DeleteItems() {
  ListItem* item = head;
  while (item != nullptr) {
    ListItem* following = item->next;  // read before the item is gone
    delete item;
    item = following;
  }
}

ListItem* ItemList::GetNext(const ListItem* item) const {
  return item != nullptr ? item->next : nullptr;
}

ListItem* ItemList::GetAt(int position) const {
  if (position < 1 || position > count) return nullptr;
  ListItem* item = head;
  for (int i = 1; i < position; ++i) item = item->next;
  return item;
}

}  // namespace voicecontrol
