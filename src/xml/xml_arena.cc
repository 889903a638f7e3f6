#include "xml/xml_arena.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

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

namespace {

constexpr size_t kMaxBlockSize = size_t{1} << 20;
// The header keeps objects at the strictest fundamental alignment.
constexpr size_t kHeaderSize = alignof(std::max_align_t);
constexpr uintptr_t kOwnerBit = 1;

uintptr_t& HeaderOf(const void* object) {
  return *reinterpret_cast<uintptr_t*>(
      const_cast<char*>(static_cast<const char*>(object) - kHeaderSize));
}

}  // namespace

XmlArena::~XmlArena() {
  while (blocks != nullptr) {
    Block* next = blocks->next;
    VC_XML_UNPOISON(blocks, blocks->size);
    std::free(blocks);
    blocks = next;
  }
}

void XmlArena::AddBlock(size_t atLeast) {
  size_t size = nextBlockSize;
  while (size < atLeast + sizeof(Block)) size *= 2;
  if (nextBlockSize < kMaxBlockSize) nextBlockSize *= 2;
  void* memory = std::malloc(size);
  if (memory == nullptr) throw std::bad_alloc();
  Block* block = static_cast<Block*>(memory);
  block->next = blocks;
  block->size = size;
  blocks = block;
  cursor = static_cast<char*>(memory) + sizeof(Block);
  limit = static_cast<char*>(memory) + size;
}

void* XmlArena::Allocate(size_t size, size_t alignment) {
  // Blocks start at malloc's alignment and Block keeps it, so aligning the
  // offset aligns the address.
  uintptr_t address = reinterpret_cast<uintptr_t>(cursor);
  uintptr_t aligned = (address + alignment - 1) & ~(uintptr_t{alignment} - 1);
  if (cursor == nullptr || aligned + size > reinterpret_cast<uintptr_t>(limit)) {
    AddBlock(size + alignment);
    address = reinterpret_cast<uintptr_t>(cursor);
    aligned = (address + alignment - 1) & ~(uintptr_t{alignment} - 1);
  }
  cursor = reinterpret_cast<char*>(aligned + size);
  return reinterpret_cast<void*>(aligned);
}

char* XmlArena::CopyText(const char* text, size_t length) {
  char* copy = static_cast<char*>(Allocate(length + 1, 1));
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

namespace xml_memory {

void* AllocateOnHeap(size_t size) {
  char* memory = static_cast<char*>(::operator new(size + kHeaderSize));
  void* object = memory + kHeaderSize;
  HeaderOf(object) = 0;
  return object;
}

void* AllocateInArena(XmlArena& arena, size_t size, bool ownsArena) {
  char* memory = static_cast<char*>(arena.Allocate(size + kHeaderSize, kHeaderSize));
  void* object = memory + kHeaderSize;
  HeaderOf(object) = reinterpret_cast<uintptr_t>(&arena) | (ownsArena ? kOwnerBit : 0);
  return object;
}

void Release(void* object, size_t size) noexcept {
  if (object == nullptr) return;
  const uintptr_t header = HeaderOf(object);
  if (header == 0) {
    ::operator delete(static_cast<char*>(object) - kHeaderSize);
  } else if (header & kOwnerBit) {
    delete reinterpret_cast<XmlArena*>(header & ~kOwnerBit);
  } else {
    // The memory stays with the arena; a later use of the dead object is
    // still caught under the address sanitizer.
    VC_XML_POISON(static_cast<char*>(object) - kHeaderSize, size + kHeaderSize);
  }
}

bool OwnsArena(const void* object) { return (HeaderOf(object) & kOwnerBit) != 0; }

}  // namespace xml_memory

}  // namespace voicecontrol
