// What Thread does the same way on every system: the body travels to the new
// thread boxed on the heap and is freed there, and a Thread holds a handle
// exactly from a successful Start until Join.
#include "platform/thread.h"

#include <utility>

#include "platform/thread_system.h"

namespace voicecontrol {
namespace platform {

struct Thread::Handle {
  SystemThread system;
};

void RunThreadBody(void* boxedBody) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(boxedBody));
  (*body)();
}

Thread::Thread() = default;

Thread::~Thread() { Join(); }

bool Thread::Start(std::function<void()> body) {
  if (handle_) return false;
  auto boxed = std::make_unique<std::function<void()>>(std::move(body));
  auto handle = std::make_unique<Handle>();
  if (!StartSystemThread(boxed.get(), &handle->system)) return false;
  boxed.release();  // the thread owns it now
  handle_ = std::move(handle);
  return true;
}

void Thread::Join() {
  if (!handle_) return;
  EndSystemThread(&handle_->system);
  handle_.reset();
}

bool Thread::IsStarted() const { return handle_ != nullptr; }

}  // namespace platform
}  // namespace voicecontrol
