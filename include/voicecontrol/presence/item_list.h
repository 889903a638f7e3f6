/// @file
/// An owning, intrusive list of heap objects for presence documents.
///
/// Items derive from ListItem, which carries the link, so an item can be in
/// one list at a time. The list deletes its items (through their virtual
/// destructors) when it is emptied or destroyed.
#ifndef VOICECONTROL_PRESENCE_ITEM_LIST_H_
#define VOICECONTROL_PRESENCE_ITEM_LIST_H_

#include <voicecontrol/export.h>

namespace voicecontrol {

class VC_API ListItem {
 public:
  ListItem() = default;
  virtual ~ListItem();
  /// A copy is a new item: it is in no list, whatever the original is in.
  ListItem(const ListItem&) {}
  ListItem& operator=(const ListItem&) { return *this; }

 private:
  friend class ItemList;
  ListItem* next = nullptr;
};

class VC_API ItemList {
 public:
  ItemList() = default;
  /// Deletes every item, in list order.
  ~ItemList();
  ItemList(const ItemList&) = delete;
  ItemList& operator=(const ItemList&) = delete;

  /// Takes ownership of item and appends it, in constant time. The item must
  /// not be in a list (its link must be null).
  void Append(ListItem* item);
  /// Deletes every item, in list order, and leaves the list empty.
  void RemoveAll();

  ListItem* GetHead() const { return head; }
  ListItem* GetTail() const { return tail; }
  /// The item after `item`, or null after the tail (or for a null item).
  ListItem* GetNext(const ListItem* item) const;
  /// The item at position (counted from 1), or null outside 1..count.
  ListItem* GetAt(int position) const;
  int GetCount() const { return count; }

 private:
  void DeleteItems();

  ListItem* head = nullptr;
  ListItem* tail = nullptr;
  int count = 0;
};

}  // namespace voicecontrol

#endif  // VOICECONTROL_PRESENCE_ITEM_LIST_H_
