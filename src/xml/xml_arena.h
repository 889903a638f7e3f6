// Memory of one parsed tree (internal to the XML parser).
//
// A parse allocates its elements, attributes, texts and values from one
// arena instead of one heap block each, which is most of the parser's cost
// otherwise. The tree's API stays the same: every XmlNode and XmlAttr carries
// a one-word header saying where it lives (the heap, or an arena, and whether
// it is the root that owns the arena), and their operator delete acts on it.
// Deleting an arena object runs its destructor (which releases anything on
// the heap that was attached to it later) but returns no memory; the arena
// goes when its owner, the parsed root, is deleted. Nothing can move an
// element out of its tree without destroying it, so every arena object dies
// no later than its owner.
#ifndef VOICECONTROL_XML_XML_ARENA_H_
#define VOICECONTROL_XML_XML_ARENA_H_

#include <cstddef>

namespace voicecontrol {

class XmlArena {
 public:
  XmlArena() = default;
  ~XmlArena();
  XmlArena(const XmlArena&) = delete;
  XmlArena& operator=(const XmlArena&) = delete;

  // Room for size bytes at the given alignment (a power of two up to
  // alignof(std::max_align_t)).
  void* Allocate(size_t size, size_t alignment);
  // A NUL-terminated copy of the first length characters of text.
  char* CopyText(const char* text, size_t length);

 private:
  void AddBlock(size_t atLeast);

  struct Block {
    Block* next;
    size_t size;
  };
  Block* blocks = nullptr;
  char* cursor = nullptr;
  char* limit = nullptr;
  size_t nextBlockSize = 4096;
};

namespace xml_memory {

// Where an object of the tree lives, for the operators new and delete of
// XmlNode and XmlAttr.
void* AllocateOnHeap(size_t size);
void* AllocateInArena(XmlArena& arena, size_t size, bool ownsArena);
// Heap objects are freed; an arena's owner frees the arena; other arena
// objects are only marked dead (for the address sanitizer, when present).
void Release(void* object, size_t size) noexcept;
// True for an object that owns its arena: it must destroy its subtree
// before its memory (and the arena with it) goes.
bool OwnsArena(const void* object);

}  // namespace xml_memory

}  // namespace voicecontrol

#endif  // VOICECONTROL_XML_XML_ARENA_H_
