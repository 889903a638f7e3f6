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

/// The base of an item of an ItemList: it carries the link.
class VC_API ListItem {
 public:
  /// An item in no list.
  ListItem() = default;
  /// Virtual, so that the list deletes items of derived classes whole.
  virtual ~ListItem();
  /// A copy is a new item: it is in no list, whatever the original is in.
  ListItem(const ListItem&) {}
  /// Assignment leaves the link alone: the item stays where it is.
  /// @return this item.
  ListItem& operator=(const ListItem&) { return *this; }

 private:
  friend class ItemList;
  ListItem* next = nullptr;
};

/// A singly linked list that owns its items.
class VC_API ItemList {
 public:
  /// An empty list.
  ItemList() = default;
  /// Deletes every item, in list order.
  ~ItemList();
  ItemList(const ItemList&) = delete;             ///< Not copyable.
  ItemList& operator=(const ItemList&) = delete;  ///< Not copyable.

  /// Takes ownership of `item` and appends it, in constant time.
  /// @param item a heap object in no list (its link must be null).
  void Append(ListItem* item);
  /// Deletes every item, in list order, and leaves the list empty.
  void RemoveAll();

  /// @return the first item, or null for an empty list.
  ListItem* GetHead() const { return head; }
  /// @return the last item, or null for an empty list.
  ListItem* GetTail() const { return tail; }
  /// @param item an item of this list, or null.
  /// @return the item after `item`, or null after the tail (or for a null
  ///         item).
  ListItem* GetNext(const ListItem* item) const;
  /// @param position counted from 1.
  /// @return the item at `position`, or null outside 1..count.
  ListItem* GetAt(int position) const;
  /// @return the number of items.
  int GetCount() const { return count; }

 private:
  void DeleteItems();

  ListItem* head = nullptr;
  ListItem* tail = nullptr;
  int count = 0;
};

}  // namespace voicecontrol

#endif  // VOICECONTROL_PRESENCE_ITEM_LIST_H_
