#ifndef VOICECONTROL_HTTP_TRIM_SPACE_H_
#define VOICECONTROL_HTTP_TRIM_SPACE_H_

#include <voicecontrol/export.h>

namespace voicecontrol {

/// Removes, in place, every leading and trailing byte whose code lies from 1
/// to 32 (space, tab, CR, LF and the other control characters). Bytes of 128
/// and above are text and stay; nothing inside the text changes. The HTTP
/// setters and the XML parser share it.
/// @param text a NUL-terminated text, changed in place; must not be null.
VC_API void TrimSpace(char* text);

}  // namespace voicecontrol

#endif  // VOICECONTROL_HTTP_TRIM_SPACE_H_
