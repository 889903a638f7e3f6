// The end time that DsCall sends.
#ifndef VOICECONTROL_CONTROLLER_END_TIME_H_
#define VOICECONTROL_CONTROLLER_END_TIME_H_

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "internal_export.h"

namespace voicecontrol {

// Writes the local date and time `durationSeconds` after `start` as
// "YYYY-MM-DD hh:mm:ss" (24-hour clock, date carried) into `out` with its
// terminator. False when the time cannot be represented or does not fit.
VC_INTERNAL_API bool FormatLocalEndTime(std::time_t start, uint32_t durationSeconds, char* out,
                               size_t capacity);

}  // namespace voicecontrol

#endif  // VOICECONTROL_CONTROLLER_END_TIME_H_
