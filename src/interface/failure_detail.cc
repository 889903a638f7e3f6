#include "interface/failure_detail.h"

#include <utility>

namespace voicecontrol {
namespace internal {

namespace {
thread_local std::string noted;
}  // namespace

void NoteFailureDetail(std::string detail) { noted = std::move(detail); }

std::string TakeFailureDetail() {
  std::string taken = std::move(noted);
  noted.clear();
  return taken;
}

}  // namespace internal
}  // namespace voicecontrol
