// voicecontrol::Version(): the version this library was built as, which a
// host compares with the VOICECONTROL_VERSION_* macros it compiled against.
#include <voicecontrol/version.h>

namespace voicecontrol {

const char* Version() { return VOICECONTROL_VERSION_STRING; }

}  // namespace voicecontrol
