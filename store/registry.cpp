// Registry value operations: one key opened and closed per call.
#include "store/registry.h"

#include <cstring>

namespace store {

using namespace platform;

namespace {
// Leaves *key open only on success.
u32 open_full(const char16_t* key_path, key_handle* key) {
  return reg_open_key(local_machine(), key_path, key_all_access, key);
}
}  // namespace

u32 read_dword(const char16_t* key_path, const char16_t* value_name, u32* out) {
  key_handle key = nullptr;
  u32 error = open_full(key_path, &key);
  if (error != error_success) return error;
  unsigned char data[4] = {0, 0, 0, 0};
  u32 size = sizeof data;
  u32 type = reg_none;
  error = reg_query_value(key, value_name, &type, data, &size);
  reg_close_key(key);  // nothing to do if closing fails
  if (error == error_success) *out = dword_from_bytes(data);
  return error;
}

u32 write_dword(const char16_t* key_path, const char16_t* value_name, u32 value) {
  key_handle key = nullptr;
  u32 error = open_full(key_path, &key);
  if (error != error_success) return error;
  unsigned char data[4];
  dword_to_bytes(value, data);
  error = reg_set_value(key, value_name, reg_dword, data, sizeof data);
  reg_close_key(key);
  return error;
}

u32 delete_value(const char16_t* key_path, const char16_t* value_name) {
  key_handle key = nullptr;
  u32 error = open_full(key_path, &key);
  if (error != error_success) return error;
  error = reg_delete_value(key, value_name);
  reg_close_key(key);
  return error;
}

bool delete_start_override(const char16_t* service_key_path) {
  key_handle key = nullptr;
  if (open_full(service_key_path, &key) != error_success) return false;
  reg_delete_key(key, u"StartOverride");  // a missing subkey is fine: there is nothing to remove
  reg_close_key(key);
  return true;
}

u32 dword_from_bytes(const unsigned char (&data)[4]) {
  return static_cast<u32>(data[0]) | static_cast<u32>(data[1]) << 8 |
         static_cast<u32>(data[2]) << 16 | static_cast<u32>(data[3]) << 24;
}

void dword_to_bytes(u32 value, unsigned char (&data)[4]) {
  for (int i = 0; i < 4; ++i) data[i] = static_cast<unsigned char>(value >> (8 * i));
}

u32 query_string_value(key_handle key, const char16_t* name, char16_t* buffer, u32 units) {
  if (units == 0) return error_insufficient_buffer;
  std::memset(buffer, 0, units * sizeof(char16_t));
  u32 size = (units - 1) * static_cast<u32>(sizeof(char16_t));
  u32 type = reg_none;
  const u32 error = reg_query_value(key, name, &type, buffer, &size);
  if (error != error_success) {
    buffer[0] = 0;
    return error;
  }
  const u32 end = size / 2;  // whole UTF-16 units read
  buffer[end < units ? end : units - 1] = 0;
  return error;
}

}  // namespace store
