#include "xml/xml_arena.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace voicecontrol {

namespace {

using xml_memory::HeaderOf;
using xml_memory::kHeaderSize;
using xml_memory::kOwnerBit;

constexpr size_t kMaxBlockSize = size_t{1} << 20;

// Blocks of arenas that went away on this thread, kept for the arenas made
// after them. Handing a big tree's memory back to the C library lets it
// return the pages to the system, and the next parse of a document that size
// then spends more time taking page faults than parsing.
//
// The state is trivially destructible, so it stays usable while the thread
// ends; the reaper, a separate thread_local, frees the blocks then and closes
// the cache to arenas destroyed later in the thread's exit.
constexpr size_t kMaxCachedBytes = size_t{8} << 20;

struct BlockCache {
  XmlArena::Block* blocks;  // most recently kept first
  size_t bytes;
  bool closed;
};
thread_local BlockCache blockCache;

void FreeBlock(XmlArena::Block* block) {
  VC_XML_UNPOISON(block, block->size);
  std::free(block);
}

struct BlockCacheReaper {
  ~BlockCacheReaper() {
    blockCache.closed = true;
    while (blockCache.blocks != nullptr) {
      XmlArena::Block* next = blockCache.blocks->next;
      FreeBlock(blockCache.blocks);
      blockCache.blocks = next;
    }
    blockCache.bytes = 0;
  }
};
thread_local BlockCacheReaper blockCacheReaper;

void KeepOrFree(XmlArena::Block* block) {
  if (blockCache.closed || blockCache.bytes + block->size > kMaxCachedBytes) {
    FreeBlock(block);
    return;
  }
  (void)&blockCacheReaper;  // makes sure the cache is emptied when the thread ends
  block->next = blockCache.blocks;
  blockCache.blocks = block;
  blockCache.bytes += block->size;
  // Nothing may touch a kept block but its header until it is reused.
  VC_XML_POISON(block + 1, block->size - sizeof(XmlArena::Block));
}

// A kept block of at least `size` bytes, or null.
XmlArena::Block* TakeKept(size_t size) {
  for (XmlArena::Block** link = &blockCache.blocks; *link != nullptr; link = &(*link)->next) {
    XmlArena::Block* block = *link;
    if (block->size < size) continue;
    *link = block->next;
    blockCache.bytes -= block->size;
    VC_XML_UNPOISON(block, block->size);
    return block;
  }
  return nullptr;
}

}  // namespace

XmlArena::~XmlArena() {
  while (blocks != nullptr) {
    Block* next = blocks->next;
    KeepOrFree(blocks);
    blocks = next;
  }
}

void XmlArena::AddBlock(size_t atLeast) {
  size_t size = nextBlockSize;
  while (size < atLeast + sizeof(Block)) size *= 2;
  if (nextBlockSize < kMaxBlockSize) nextBlockSize *= 2;
  Block* block = TakeKept(atLeast + sizeof(Block));
  if (block == nullptr) {
    block = static_cast<Block*>(std::malloc(size));
    if (block == nullptr) throw std::bad_alloc();
    block->size = size;
  }
  block->next = blocks;
  blocks = block;
  cursor = reinterpret_cast<char*>(block) + sizeof(Block);
  limit = reinterpret_cast<char*>(block) + block->size;
}

void* XmlArena::AllocateInNewBlock(size_t size, size_t alignment) {
  AddBlock(size + alignment);
  const uintptr_t aligned = Align(reinterpret_cast<uintptr_t>(cursor), alignment);
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

void ReleaseHeapOrOwner(void* object) noexcept {
  const uintptr_t header = HeaderOf(object);
  if (header == 0) {
    ::operator delete(static_cast<char*>(object) - kHeaderSize);
  } else {
    delete reinterpret_cast<XmlArena*>(header & ~kOwnerBit);
  }
}

}  // namespace xml_memory

}  // namespace voicecontrol
