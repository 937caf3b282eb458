// The registry operations through which settings are read, written and removed. Each opens its key
// under HKEY_LOCAL_MACHINE with full access, does one thing and closes the key before returning.
#pragma once

#include "platform/platform.h"

namespace store {

using platform::u32;

// Reads a value whose data fits in 4 bytes, whatever its type; shorter data reads zero-extended.
u32 read_dword(const char16_t* key_path, const char16_t* value_name, u32* out);
// Writes a REG_DWORD of 4 bytes, little-endian.
u32 write_dword(const char16_t* key_path, const char16_t* value_name, u32 value);
// Deleting a value that does not exist is a failure.
u32 delete_value(const char16_t* key_path, const char16_t* value_name);
// Removes the "StartOverride" subkey of a service key; true when the service key opened.
bool delete_start_override(const char16_t* service_key_path);

// A registry DWORD's 4 bytes, little-endian; shorter data leaves the high bytes zero.
u32 dword_from_bytes(const unsigned char (&data)[4]);
void dword_to_bytes(u32 value, unsigned char (&data)[4]);

// Reads a string value of at most (units - 1) * 2 bytes into buffer and terminates it after the
// data read, so that a value stored without terminator is never read past its end. buffer holds
// units.
u32 query_string_value(platform::key_handle key, const char16_t* name, char16_t* buffer, u32 units);

}  // namespace store
