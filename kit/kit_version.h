// The kit's version and the commit it was built from, for its report's header.
#pragma once

namespace e2e {

const char* kit_version();
const char* kit_commit();

}  // namespace e2e
