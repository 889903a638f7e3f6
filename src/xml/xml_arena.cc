#include "xml/xml_arena.h"

#include <atomic>
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

// The blocks of the last arena that went away, kept for the next one made.
// Handing a big tree's memory back to the C library lets it return the
// pages to the system, and the next parse of a document that size then
// spends more time taking page faults than parsing.
//
// The cache is one list in one atomic pointer: an arena takes the whole list
// when it needs its first block and puts its own blocks back when it goes,
// so neither side ever waits for the other (two parses at once simply find
// one list between them). Everything here is trivially destructible and so
// stays usable during static destruction; the reaper frees the kept blocks
// when the library goes away and closes the cache to arenas destroyed after
// that. (No thread_local with a destructor: those are fragile in a DLL that
// may be unloaded before its threads end.)
constexpr size_t kMaxCachedBytes = size_t{8} << 20;

std::atomic<XmlArena::Block*> cachedBlocks{nullptr};
std::atomic<bool> cacheClosed{false};

void FreeBlocks(XmlArena::Block* blocks) {
  while (blocks != nullptr) {
    XmlArena::Block* next = blocks->next;
    VC_XML_UNPOISON(blocks, blocks->size);
    std::free(blocks);
    blocks = next;
  }
}

struct BlockCacheReaper {
  ~BlockCacheReaper() {
    cacheClosed.store(true);
    FreeBlocks(cachedBlocks.exchange(nullptr));
  }
};
BlockCacheReaper blockCacheReaper;

// Keeps as many of the blocks as fit in the cache, in their order, and frees
// the rest together with whatever the cache held before.
void KeepOrFree(XmlArena::Block* blocks) {
  if (cacheClosed.load()) {
    FreeBlocks(blocks);
    return;
  }
  XmlArena::Block* kept = nullptr;
  XmlArena::Block** keptEnd = &kept;
  XmlArena::Block* rejected = nullptr;
  size_t bytes = 0;
  while (blocks != nullptr) {
    XmlArena::Block* block = blocks;
    blocks = block->next;
    if (bytes + block->size > kMaxCachedBytes) {
      block->next = rejected;
      rejected = block;
      continue;
    }
    bytes += block->size;
    block->next = nullptr;
    *keptEnd = block;
    keptEnd = &block->next;
    // Nothing may touch a kept block but its header until it is reused.
    VC_XML_POISON(block + 1, block->size - sizeof(XmlArena::Block));
  }
  FreeBlocks(rejected);
  FreeBlocks(cachedBlocks.exchange(kept));
}

}  // namespace

XmlArena::~XmlArena() {
  // One list of every block, the spares last.
  Block** end = &blocks;
  while (*end != nullptr) end = &(*end)->next;
  *end = spares;
  KeepOrFree(blocks);
}

void XmlArena::AddBlock(size_t atLeast) {
  size_t size = nextBlockSize;
  while (size < atLeast + sizeof(Block)) size *= 2;
  if (nextBlockSize < kMaxBlockSize) nextBlockSize *= 2;
  if (!tookSpares) {
    spares = cachedBlocks.exchange(nullptr);
    tookSpares = true;
  }
  Block* block = nullptr;
  for (Block** link = &spares; *link != nullptr; link = &(*link)->next) {
    if ((*link)->size >= atLeast + sizeof(Block)) {
      block = *link;
      *link = block->next;
      VC_XML_UNPOISON(block + 1, block->size - sizeof(Block));
      break;
    }
  }
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
