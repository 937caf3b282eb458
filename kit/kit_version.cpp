// The build gives this file alone the version and commit, so a new commit recompiles only it.
#include "kit/kit_version.h"

namespace e2e {

const char* kit_version() { return KIT_VERSION; }
const char* kit_commit() { return KIT_COMMIT; }

}  // namespace e2e
