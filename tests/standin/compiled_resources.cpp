// The .res file format, string table blocks and VS_VERSIONINFO, as documented for Win32 resources.
#include "tests/standin/compiled_resources.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "tests/standin/byte_reader.h"

namespace res {
namespace {

// One node of VS_VERSIONINFO: wLength, wValueLength, wType (1: text, counted in UTF-16 units),
// szKey, Value, Children; each on a four-byte boundary. The path holds the keys down to it.
bool read_version(const resource& v, std::size_t at, std::size_t end, std::vector<std::string> path,
                  version_info* out) {
  byte_reader r(v.data.data(), end, at);
  const std::size_t length = r.u16(), value_length = r.u16(), text = r.u16();
  path.push_back(r.name());
  r.align4();
  const std::size_t value = r.at(), children = value + (text ? 2 * value_length : value_length);
  if (!r.ok() || length < 6 || at + length > end || children > at + length) return false;
  byte_reader words(v.data.data(), children, value);
  if (path.size() == 1) {  // VS_FIXEDFILEINFO: signature, structure version, then the numbers
    if (path[0] != "VS_VERSION_INFO" || value_length != 52 || words.u32() != 0xFEEF04BDu) {
      return false;
    }
    words.u32();
    for (auto* n : {&out->file_version, &out->product_version}) {
      const std::uint32_t ms = words.u32(), ls = words.u32();
      *n = {std::uint16_t(ms >> 16), std::uint16_t(ms), std::uint16_t(ls >> 16), std::uint16_t(ls)};
    }
  } else if (path.size() == 3 && path[1] == "StringFileInfo") {
    out->string_block = path[2];
  } else if (path.size() == 4 && path[1] == "StringFileInfo") {
    out->strings[path[3]] = byte_reader(v.data.data(), children, value).name();
  } else if (path.size() == 3 && path[1] == "VarFileInfo" && path[2] == "Translation") {
    while (words.at() + 2 <= children) out->translation.push_back(std::uint16_t(words.u16()));
  }
  for (std::size_t child = (children + 3) & ~std::size_t{3}; child < at + length;) {
    if (!read_version(v, child, at + length, path, out)) return false;
    child = (child + (v.data[child] | v.data[child + 1] << 8) + 3) & ~std::size_t{3};
  }
  return true;
}

// A string table block holds the sixteen strings from (name - 1) * 16 on, each counted; the
// identifiers that the table leaves out have empty ones.
bool read_strings(const resource& block, std::map<std::uint32_t, std::u16string>* out) {
  byte_reader r(block.data.data(), block.data.size());
  const std::uint32_t first = (static_cast<std::uint32_t>(std::atoi(block.name.c_str())) - 1) * 16;
  for (std::uint32_t i = 0; i < 16; ++i) {
    std::u16string s(r.u16(), u'\0');
    for (char16_t& c : s) c = char16_t(r.u16());
    if (!s.empty()) (*out)[first + i] = s;
  }
  return r.ok() && r.at() == block.data.size();
}

}  // namespace

bool decode(const std::vector<unsigned char>& bytes, const std::string& where, compiled* out,
            std::string* error) {
  *out = compiled{};
  auto fail = [&](const std::string& at, std::size_t offset, const std::string& why) {
    *error = at + ": offset " + std::to_string(offset) + ": " + why;
    return false;
  };
  // Each entry: DataSize, HeaderSize, TYPE, NAME, then DataVersion, MemoryFlags, LanguageId,
  // Version and Characteristics on a four-byte boundary, then the data.
  for (byte_reader r(bytes.data(), bytes.size()); r.at() < bytes.size(); r.align4()) {
    const std::size_t start = r.at(), size = r.u32(), header = r.u32();
    resource e{r.name(), r.name(), 0, {}, start, start + header};
    r.align4();
    r.skip(6);
    e.language = std::uint16_t(r.u16());
    r.skip(8);
    if (!r.ok() || r.at() != start + header) {
      return fail(where, start, "a header that does not add up");
    }
    if (start + header + size > bytes.size()) return fail(where, start, "data past the end");
    e.data.assign(bytes.begin() + start + header, bytes.begin() + start + header + size);
    r.skip(size);
    // The file opens with an empty entry of type 0 that marks it as a 32-bit resource file.
    if (start > 0 || e.type != "0") out->resources.push_back(e);
  }
  for (const resource& e : out->resources) {
    const std::string at = where + " " + e.type + "/" + e.name;
    if (e.type == "5") {  // RT_DIALOG
      dialog d;
      d.name = e.name;
      d.language = e.language;
      if (!decode_dialog(e.data.data(), e.data.size(), &d, error)) {
        *error = at + ": " + *error;
        return false;
      }
      out->dialogs.push_back(d);
    } else if (e.type == "6" && !read_strings(e, &out->strings)) {  // RT_STRING
      return fail(at, 0, "a string block that does not add up");
    } else if (e.type == "16" && !read_version(e, 0, e.data.size(), {}, &out->version)) {
      return fail(at, 0, "a version resource that does not add up");  // RT_VERSION
    }
  }
  return true;
}

bool load(const std::string& path, compiled* out, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)),
                                         std::istreambuf_iterator<char>());
  if (bytes.empty()) {
    *error = path + ": cannot be read";
    return false;
  }
  return decode(bytes, path, out, error);
}

const compiled& project_resources() {
  static const compiled c = [] {
    compiled loaded;
    std::string error;
    if (!load(VIVEDIZ_COMPILED_RESOURCES, &loaded, &error)) {
      std::fprintf(stderr, "compiled resources: %s\n", error.c_str());
      std::abort();
    }
    return loaded;
  }();
  return c;
}

const dialog* find_dialog(const compiled& c, const std::string& name) {
  auto fold = [](std::string s) {
    for (char& ch : s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return s;
  };
  for (const dialog& d : c.dialogs) {
    if (fold(d.name) == fold(name)) return &d;
  }
  return nullptr;
}

}  // namespace res
