// The record file on disk: read whole, written whole.
#include "rollback/internal.h"

namespace rollback::detail {

using namespace platform;

u32 read_file(const text& path, std::string* content) {
  content->clear();
  file_handle file = nullptr;
  u32 error = file_open(path.c_str(), false, open_existing, &file);
  if (error != error_success) return error;
  char buffer[16384];
  for (;;) {
    u32 got = 0;
    error = file_read(file, buffer, sizeof buffer, &got);
    if (error != error_success || got == 0) break;
    content->append(buffer, got);
  }
  file_close(file);
  return error;
}

u32 write_file_whole(const text& path, const std::string& content, std::string* step) {
  u32 error = file_exists(path.c_str());
  if (error == error_success) {
    *step = "it exists already";
    return error_file_exists;
  }
  const text temporary = path + u".tmp";
  file_handle file = nullptr;
  error = file_open(temporary.c_str(), true, create_always, &file);
  if (error != error_success) {
    *step = "cannot create " + printable(temporary);
    return error;
  }
  error = file_write(file, content.data(), static_cast<u32>(content.size()));
  if (error != error_success) *step = "cannot write " + printable(temporary);
  if (error == error_success) {
    error = file_flush(file);
    if (error != error_success) *step = "cannot flush " + printable(temporary);
  }
  const u32 closed = file_close(file);
  if (error == error_success && closed != error_success) {
    error = closed;
    *step = "cannot close " + printable(temporary);
  }
  if (error == error_success) {
    error = file_rename(temporary.c_str(), path.c_str());
    if (error != error_success) *step = "cannot rename " + printable(temporary) + " to it";
  }
  if (error != error_success) file_delete(temporary.c_str());
  return error;
}

}  // namespace rollback::detail
