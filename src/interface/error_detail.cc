#include "interface/error_detail.h"

#include <utility>

namespace voicecontrol {
namespace internal {

namespace {
thread_local std::string noted;
}  // namespace

void NoteErrorDetail(std::string detail) { noted = std::move(detail); }

std::string TakeErrorDetail() {
  std::string taken = std::move(noted);
  noted.clear();
  return taken;
}

std::string AsAnswerDetail(std::string detail) {
  constexpr char kDocument[] = "document ";
  if (detail.rfind(kDocument, 0) != 0) return detail;
  return "answer " + detail.substr(sizeof kDocument - 1);
}

}  // namespace internal
}  // namespace voicecontrol
