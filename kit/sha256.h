// SHA-256 of a file, computed by the kit itself (rollback/sha256.h): Windows 2000 and XP before
// SP3 have none.
#pragma once

#include <string>

namespace e2e {

// Lower-case hexadecimal digest, or an empty string when the file cannot be read.
std::string sha256_of_file(const std::wstring& path);

}  // namespace e2e
