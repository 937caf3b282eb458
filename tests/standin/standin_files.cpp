// Stand-in files: whole files by path, each with what was last flushed, and open handles.
#include <cstring>
#include <map>

#include "tests/standin/standin_internal.h"

namespace standin {

using namespace internal;

namespace {

struct file_state {
  std::u16string name;
  bytes content;
  bytes flushed;
};

struct open_file {
  std::u16string folded;
  bool writing;
  std::size_t position;
};

std::map<std::u16string, file_state> files;  // by folded path
std::map<std::uintptr_t, open_file> open_files;
std::uintptr_t next_file = 0x9000;

open_file* lookup(platform::file_handle file) {
  auto it = open_files.find(reinterpret_cast<std::uintptr_t>(file));
  return it == open_files.end() ? nullptr : &it->second;
}

file_state* state_of(const open_file& f) {
  auto it = files.find(f.folded);
  return it == files.end() ? nullptr : &it->second;
}

}  // namespace

namespace internal {
void reset_files() {
  files.clear();
  open_files.clear();
}
}  // namespace internal

void set_file(const std::u16string& path, const bytes& content) {
  files[fold(path)] = {path, content, content};
}

std::optional<bytes> file_content(const std::u16string& path) {
  auto it = files.find(fold(path));
  if (it == files.end()) return std::nullopt;
  return it->second.content;
}

void lose_unflushed_data() {
  for (auto& [folded, f] : files) f.content = f.flushed;
}

int open_file_count() { return static_cast<int>(open_files.size()); }

}  // namespace standin

namespace platform {

using namespace standin;
using namespace standin::internal;

u32 file_open(const char16_t* path, bool for_writing, u32 disposition, file_handle* out) {
  *out = nullptr;
  const std::u16string name = path;
  if (const u32 e = fault_for(op::file_open, name)) return e;
  const std::u16string folded = fold(name);
  auto it = files.find(folded);
  if (disposition == open_existing && it == files.end()) return error_file_not_found;
  if (disposition == create_new && it != files.end()) return error_file_exists;
  if (disposition != open_existing) {
    // A new or emptied file: on disk it holds what was flushed before until it is flushed again.
    file_state& f = files[folded];
    f.name = name;
    f.content.clear();
  }
  const std::uintptr_t id = next_file++;
  open_files[id] = {folded, for_writing, 0};
  *out = reinterpret_cast<file_handle>(id);
  return error_success;
}

u32 file_read(file_handle file, void* buffer, u32 byte_size, u32* got) {
  *got = 0;
  open_file* f = lookup(file);
  file_state* state = f ? state_of(*f) : nullptr;
  if (state == nullptr) return error_invalid_handle;
  if (const u32 e = fault_for(op::file_read, state->name)) return e;
  const std::size_t left = state->content.size() - f->position;
  const std::size_t n = left < byte_size ? left : byte_size;
  if (n > 0) std::memcpy(buffer, state->content.data() + f->position, n);
  f->position += n;
  *got = static_cast<u32>(n);
  return error_success;
}

u32 file_write(file_handle file, const void* data, u32 byte_size) {
  open_file* f = lookup(file);
  file_state* state = f ? state_of(*f) : nullptr;
  if (state == nullptr) return error_invalid_handle;
  if (!f->writing) return error_access_denied;
  if (const u32 e = fault_for(op::file_write, state->name)) return e;
  const auto* first = static_cast<const std::uint8_t*>(data);
  if (state->content.size() < f->position + byte_size) {
    state->content.resize(f->position + byte_size);
  }
  std::memcpy(state->content.data() + f->position, first, byte_size);
  f->position += byte_size;
  record("write_file " + narrow(state->name));
  return error_success;
}

u32 file_flush(file_handle file) {
  open_file* f = lookup(file);
  file_state* state = f ? state_of(*f) : nullptr;
  if (state == nullptr) return error_invalid_handle;
  if (const u32 e = fault_for(op::file_flush, state->name)) return e;
  state->flushed = state->content;
  record("flush_file " + narrow(state->name));
  return error_success;
}

u32 file_close(file_handle file) {
  return open_files.erase(reinterpret_cast<std::uintptr_t>(file)) == 1 ? error_success
                                                                       : error_invalid_handle;
}

u32 file_rename(const char16_t* from, const char16_t* to) {
  const std::u16string old_name = from, new_name = to;
  if (const u32 e = fault_for(op::file_rename, old_name)) return e;
  auto it = files.find(fold(old_name));
  if (it == files.end()) return error_file_not_found;
  if (files.count(fold(new_name)) != 0) return error_already_exists;
  file_state moved = it->second;
  moved.name = new_name;
  files.erase(it);
  files[fold(new_name)] = moved;
  for (auto& [id, f] : open_files) {
    if (f.folded == fold(old_name)) f.folded = fold(new_name);
  }
  record("rename_file " + narrow(old_name) + " -> " + narrow(new_name));
  return error_success;
}

u32 file_delete(const char16_t* path) {
  const std::u16string name = path;
  if (const u32 e = fault_for(op::file_delete, name)) return e;
  if (files.erase(fold(name)) == 0) return error_file_not_found;
  record("delete_file " + narrow(name));
  return error_success;
}

u32 file_exists(const char16_t* path) {
  const std::u16string name = path;
  if (const u32 e = fault_for(op::file_exists, name)) return e;
  return files.count(fold(name)) != 0 ? error_success : error_file_not_found;
}

}  // namespace platform
