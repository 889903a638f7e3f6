// Where the library has no loop set yet (neither Linux nor Windows): a
// controller cannot be driven by its host, and says so when asked to be.
#include <errno.h>

#include "platform/loop_set.h"

namespace voicecontrol {
namespace platform {

struct LoopSet::Impl {};

LoopSet::LoopSet() = default;
LoopSet::~LoopSet() = default;
bool LoopSet::Open() { return error_ = ENOSYS, false; }
intptr_t LoopSet::Descriptor() const { return -1; }
bool LoopSet::Add(const TcpSocket&, uint64_t, unsigned) { return error_ = ENOSYS, false; }
bool LoopSet::Change(const TcpSocket&, uint64_t, unsigned) { return error_ = ENOSYS, false; }
bool LoopSet::WatchesBeforeConnect() { return false; }
bool LoopSet::WakePending() const { return false; }
bool LoopSet::ReadyOnlyWhileSocketsAre() { return false; }
void LoopSet::Forget(const TcpSocket&, uint64_t) {}
void LoopSet::Wake() {}
int LoopSet::Collect(Ready*, int, bool* woken) { return *woken = false, 0; }

}  // namespace platform
}  // namespace voicecontrol
