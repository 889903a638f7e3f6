// Memory of one parsed tree (internal to the XML parser).
//
// A parse allocates its elements, attributes, texts and values from one
// arena instead of one heap block each, which is most of the parser's cost
// otherwise. The tree's API stays the same: every XmlNode and XmlAttr carries
// a one-word header saying where it lives (the heap, or an arena, and whether
// it is the root that owns the arena), and their operator delete acts on it.
// Deleting an arena object runs its destructor (which releases anything on
// the heap that was attached to it later) but returns no memory; the arena
// goes when its owner, the parsed root, is deleted; its blocks are then kept
// (up to a bound) for the next arena. Nothing can move an
// element out of its tree without destroying it, so every arena object dies
// no later than its owner.
#ifndef VOICECONTROL_XML_XML_ARENA_H_
#define VOICECONTROL_XML_XML_ARENA_H_

#include <cstddef>
#include <cstdint>

#if defined(__SANITIZE_ADDRESS__)
#define VC_XML_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VC_XML_ASAN 1
#endif
#endif

#if defined(VC_XML_ASAN)
#include <sanitizer/asan_interface.h>
#define VC_XML_POISON(address, size) ASAN_POISON_MEMORY_REGION(address, size)
#define VC_XML_UNPOISON(address, size) ASAN_UNPOISON_MEMORY_REGION(address, size)
#else
#define VC_XML_POISON(address, size) ((void)(address), (void)(size))
#define VC_XML_UNPOISON(address, size) ((void)(address), (void)(size))
#endif

namespace voicecontrol {

class XmlArena {
 public:
  XmlArena() = default;
  ~XmlArena();
  XmlArena(const XmlArena&) = delete;
  XmlArena& operator=(const XmlArena&) = delete;

  // Room for size bytes (size > 0) at the given alignment (a power of two
  // up to 16). Inline: a parse calls it for every
  // element, attribute, value and text.
#if defined(__GNUC__) || defined(__clang__)
  __attribute__((always_inline))
#endif
  void* Allocate(size_t size, size_t alignment) {
    // Blocks start at malloc's alignment and Block keeps it, so aligning the
    // offset aligns the address. Before the first block cursor and limit are
    // both null, so the test sends the first request to a new block too.
    const uintptr_t aligned = Align(reinterpret_cast<uintptr_t>(cursor), alignment);
    if (aligned + size > reinterpret_cast<uintptr_t>(limit)) {
      return AllocateInNewBlock(size, alignment);
    }
    cursor = reinterpret_cast<char*>(aligned + size);
    return reinterpret_cast<void*>(aligned);
  }
  // A NUL-terminated copy of the first length characters of text.
  char* CopyText(const char* text, size_t length);

  // Whether anything from outside the arena (a heap text, value, element or
  // attribute, or another parsed tree) was ever attached to an object in it.
  // Until then destroying the owner needs no visit to each object.
  bool HoldsForeign() const { return holdsForeign; }
  void NoteForeign() { holdsForeign = true; }

  // The header of each block of memory, at its start.
  struct Block {
    Block* next;
    size_t size;  // the whole block, header included
  };

 private:
  static uintptr_t Align(uintptr_t address, size_t alignment) {
    return (address + alignment - 1) & ~(uintptr_t{alignment} - 1);
  }
  void* AllocateInNewBlock(size_t size, size_t alignment);
  void AddBlock(size_t atLeast);

  Block* blocks = nullptr;  // in use, newest first
  // Blocks left by an earlier arena, taken with the first block needed.
  Block* spares = nullptr;
  bool tookSpares = false;
  bool holdsForeign = false;
  char* cursor = nullptr;
  char* limit = nullptr;
  size_t nextBlockSize = 4096;
};

namespace xml_memory {

// Where an object of the tree lives, for the operators new and delete of
// XmlNode and XmlAttr: a header word in front of it holds 0 for the heap, or
// the arena's address, with the low bit set for the arena's owner.
//
// The header's size is a plain number on purpose. Every translation unit
// that makes, reads or frees a header must agree on it, and
// alignof(std::max_align_t) does not give one answer per build: with
// mingw-w64's i686 compiler it is 8 where the C library's <stddef.h> is
// included first and 16 where GCC's is (through <string> or <memory>), so
// the parser wrote headers 16 bytes before an object and the arena read
// them 8 bytes before it. Sixteen bytes keep every object of the tree as
// aligned as the memory it was carved from, on every target.
constexpr size_t kHeaderSize = 16;
static_assert(kHeaderSize >= sizeof(uintptr_t), "the header holds one word");
constexpr uintptr_t kOwnerBit = 1;

inline uintptr_t& HeaderOf(const void* object) {
  return *reinterpret_cast<uintptr_t*>(
      const_cast<char*>(static_cast<const char*>(object) - kHeaderSize));
}

void* AllocateOnHeap(size_t size);

inline void* AllocateInArena(XmlArena& arena, size_t size, bool ownsArena) {
  char* memory = static_cast<char*>(arena.Allocate(size + kHeaderSize, kHeaderSize));
  void* object = memory + kHeaderSize;
  HeaderOf(object) = reinterpret_cast<uintptr_t>(&arena) | (ownsArena ? kOwnerBit : 0);
  return object;
}

// Frees a heap object, or an arena's owner together with its arena.
void ReleaseHeapOrOwner(void* object) noexcept;

// Heap objects are freed; an arena's owner frees the arena; other arena
// objects are only marked dead (for the address sanitizer, when present).
inline void Release(void* object, size_t size) noexcept {
  if (object == nullptr) return;
  const uintptr_t header = HeaderOf(object);
  if (header != 0 && (header & kOwnerBit) == 0) {
    // The memory stays with the arena; a later use of the dead object is
    // still caught under the address sanitizer.
    VC_XML_POISON(static_cast<char*>(object) - kHeaderSize, size + kHeaderSize);
    return;
  }
  ReleaseHeapOrOwner(object);
}

// The arena an object lives in; null for one on the heap.
inline XmlArena* ArenaOf(const void* object) {
  return reinterpret_cast<XmlArena*>(HeaderOf(object) & ~kOwnerBit);
}

// To be called, for an object made in an arena, whenever something not
// allocated in that arena is attached to it (or, for an element, linked among
// its children or siblings). Only objects made with new have the header.
inline void NoteForeignAttachment(const void* object) {
  if (XmlArena* arena = ArenaOf(object)) arena->NoteForeign();
}

// True for an object that owns its arena: it must destroy its subtree
// before its memory (and the arena with it) goes.
inline bool OwnsArena(const void* object) { return (HeaderOf(object) & kOwnerBit) != 0; }

}  // namespace xml_memory

}  // namespace voicecontrol

#endif  // VOICECONTROL_XML_XML_ARENA_H_
