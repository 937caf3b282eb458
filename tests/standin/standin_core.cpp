// Stand-in: faults, the event timeline, text helpers and reset.
#include <algorithm>

#include "tests/standin/standin_internal.h"

namespace standin {

namespace internal {

namespace {
struct fault {
  op operation;
  u32 error;
  std::u16string match;
  int skip;
  int times;
};
std::vector<fault> faults;
std::vector<std::string> events;
}  // namespace

std::u16string fold(const std::u16string& s) {
  std::u16string out = s;
  for (char16_t& c : out) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  }
  return out;
}

std::u16string widen(const std::string& s) {
  std::u16string out;
  for (unsigned char c : s) out += static_cast<char16_t>(c);
  return out;
}

bool ends_with_ignore_case(const std::u16string& subject, const std::u16string& suffix) {
  if (suffix.size() > subject.size()) return false;
  return fold(subject.substr(subject.size() - suffix.size())) == fold(suffix);
}

u32 fault_for(op operation, const std::u16string& subject) {
  for (auto it = faults.begin(); it != faults.end(); ++it) {
    if (it->operation != operation || !ends_with_ignore_case(subject, it->match)) continue;
    if (it->skip > 0) {
      --it->skip;
      continue;
    }
    const u32 error = it->error;
    if (it->times > 0 && --it->times == 0) faults.erase(it);
    return error;
  }
  return 0;
}

void record(const std::string& event) { events.push_back(event); }

void reset_faults() {
  faults.clear();
  events.clear();
}

}  // namespace internal

std::string narrow(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      char buffer[8];
      snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(c));
      out += buffer;
    }
  }
  return out;
}

void fail(op operation, u32 error, const std::u16string& match, int skip, int times) {
  internal::faults.push_back({operation, error, match, skip, times});
}

const std::vector<std::string>& timeline() { return internal::events; }

std::vector<std::string> timeline_matching(const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& e : internal::events) {
    if (e.compare(0, prefix.size(), prefix) == 0) out.push_back(e);
  }
  return out;
}

void reset() {
  internal::reset_faults();
  internal::reset_registry();
  internal::reset_system();
  internal::reset_ui();
  internal::reset_files();
}

}  // namespace standin
