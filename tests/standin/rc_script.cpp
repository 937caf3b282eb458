// Parser for the part of the resource-script language that resources/vivediz.rc is written in.
#include "tests/standin/rc_script.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#ifndef VIVEDIZ_RESOURCE_DIR
#error "VIVEDIZ_RESOURCE_DIR must be defined as a string literal naming the resources folder"
#endif

namespace rc {
namespace {

struct named_value {
  const char* name;
  std::uint32_t value;
};

// The Windows header values of the names the script uses. windres takes them from <winresrc.h>,
// which a native build does not have; a name missing here fails the load instead of reading as 0.
constexpr named_value kBuiltins[] = {
    {"IDOK", 1},
    {"IDCANCEL", 2},
    {"WS_POPUP", 0x80000000u},
    {"WS_CHILD", 0x40000000u},
    {"WS_VISIBLE", 0x10000000u},
    {"WS_CAPTION", 0x00C00000u},
    {"WS_BORDER", 0x00800000u},
    {"WS_VSCROLL", 0x00200000u},
    {"WS_GROUP", 0x00020000u},
    {"WS_TABSTOP", 0x00010000u},
    {"DS_SETFONT", 0x40},
    {"DS_MODALFRAME", 0x80},
    {"BS_PUSHBUTTON", 0x0},
    {"BS_DEFPUSHBUTTON", 0x1},
    {"BS_AUTOCHECKBOX", 0x3},
    {"BS_GROUPBOX", 0x7},
    {"BS_AUTORADIOBUTTON", 0x9},
    {"SS_LEFT", 0x0},
    {"ES_MULTILINE", 0x4},
    {"ES_AUTOVSCROLL", 0x40},
    {"ES_AUTOHSCROLL", 0x80},
    {"ES_READONLY", 0x800},
    {"LANG_ENGLISH", 0x09},
    {"SUBLANG_ENGLISH_US", 0x01},
    {"VS_VERSION_INFO", 1},
    {"VS_FFI_FILEFLAGSMASK", 0x3F},
    {"VOS_NT_WINDOWS32", 0x40004},
    {"VFT_APP", 1},
    {"VFT2_UNKNOWN", 0},
    // Not used by the script; known so that a manifest statement parses and the tests can see it.
    {"RT_MANIFEST", 24},
};

constexpr std::uint32_t kWsChild = 0x40000000u;
constexpr std::uint32_t kWsVisible = 0x10000000u;
constexpr std::uint32_t kWsCaption = 0x00C00000u;
constexpr std::uint32_t kDsSetFont = 0x40;

enum class kind { word, number, string, punct, directive, end };

struct token {
  kind k;
  std::string text;  // a string's decoded bytes, a directive's text after the '#'
  std::uint32_t value;
  int line;
};

bool is_alpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_alnum(char c) { return is_alpha(c) || is_digit(c); }

int hex_digit(char c) {
  if (is_digit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool read_file(const std::string& path, std::string* text) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text->append(buffer, n);
  bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

std::u16string widen(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

class lexer {
 public:
  lexer(const std::string& src, const std::string& file, int first_line)
      : src_(src), file_(file), line_(first_line) {}

  bool run(std::vector<token>* out, std::string* error) {
    bool line_start = true;
    while (pos_ < src_.size()) {
      char c = src_[pos_];
      if (c == '\n') {
        ++line_;
        ++pos_;
        line_start = true;
      } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
        ++pos_;
      } else if (c == '/' && peek(1) == '/') {
        while (pos_ < src_.size() && src_[pos_] != '\n') ++pos_;
      } else if (c == '/' && peek(1) == '*') {
        if (!skip_block_comment()) return fail(error, "unterminated comment");
      } else {
        if (c == '#' && !line_start) return fail(error, "'#' inside a line");
        line_start = false;
        token t{kind::end, std::string(), 0, line_};
        if (!lex_token(&t, error)) return false;
        out->push_back(std::move(t));
      }
    }
    out->push_back(token{kind::end, std::string(), 0, line_});
    return true;
  }

 private:
  char peek(std::size_t ahead) const {
    return pos_ + ahead < src_.size() ? src_[pos_ + ahead] : '\0';
  }

  bool fail(std::string* error, const std::string& why) const {
    *error = file_ + ":" + std::to_string(line_) + ": " + why;
    return false;
  }

  bool skip_block_comment() {
    pos_ += 2;
    while (pos_ < src_.size()) {
      if (src_[pos_] == '*' && peek(1) == '/') {
        pos_ += 2;
        return true;
      }
      if (src_[pos_] == '\n') ++line_;
      ++pos_;
    }
    return false;
  }

  bool lex_token(token* t, std::string* error) {
    char c = src_[pos_];
    if (c == '#') {
      std::size_t end = src_.find('\n', pos_);
      if (end == std::string::npos) end = src_.size();
      t->k = kind::directive;
      t->text = src_.substr(pos_ + 1, end - pos_ - 1);
      while (!t->text.empty() && (t->text.back() == '\r' || t->text.back() == ' ')) {
        t->text.pop_back();
      }
      if (!t->text.empty() && t->text.back() == '\\') {
        return fail(error, "continued directive lines are not supported");
      }
      pos_ = end;
      return true;
    }
    if (c == '"') return lex_string(t, error);
    if (is_digit(c)) return lex_number(t, error);
    if (is_alpha(c)) {
      std::size_t start = pos_;
      while (pos_ < src_.size() && is_alnum(src_[pos_])) ++pos_;
      t->k = kind::word;
      t->text = src_.substr(start, pos_ - start);
      return true;
    }
    if (c == ',' || c == '|' || c == '(' || c == ')' || c == '{' || c == '}') {
      t->k = kind::punct;
      t->text = std::string(1, c);
      ++pos_;
      return true;
    }
    return fail(error, std::string("unexpected character '") + c + "'");
  }

  // A doubled quote stands for one quote, as in rc. Backslash escapes and non-ASCII bytes are
  // refused: windres reads both in ways that depend on options this parser does not model.
  bool lex_string(token* t, std::string* error) {
    t->k = kind::string;
    ++pos_;
    for (;;) {
      if (pos_ >= src_.size() || src_[pos_] == '\n') return fail(error, "unterminated string");
      char c = src_[pos_];
      if (c == '"') {
        if (peek(1) != '"') {
          ++pos_;
          return true;
        }
        pos_ += 2;
        t->text.push_back('"');
        continue;
      }
      if (c == '\\') return fail(error, "backslash escapes in strings are not supported");
      if (static_cast<unsigned char>(c) >= 0x80 || static_cast<unsigned char>(c) < 0x20) {
        return fail(error, "only printable ASCII is supported in strings");
      }
      t->text.push_back(c);
      ++pos_;
    }
  }

  bool lex_number(token* t, std::string* error) {
    t->k = kind::number;
    std::size_t start = pos_;
    std::uint64_t value = 0;
    bool any = false;
    if (src_[pos_] == '0' && (peek(1) == 'x' || peek(1) == 'X')) {
      pos_ += 2;
      while (pos_ < src_.size() && hex_digit(src_[pos_]) >= 0) {
        value = value * 16 + static_cast<std::uint64_t>(hex_digit(src_[pos_]));
        if (value > 0xFFFFFFFFu) return fail(error, "number out of range");
        any = true;
        ++pos_;
      }
    } else {
      while (pos_ < src_.size() && is_digit(src_[pos_])) {
        value = value * 10 + static_cast<std::uint64_t>(src_[pos_] - '0');
        if (value > 0xFFFFFFFFu) return fail(error, "number out of range");
        any = true;
        ++pos_;
      }
    }
    while (pos_ < src_.size() &&
           (src_[pos_] == 'L' || src_[pos_] == 'l' || src_[pos_] == 'U' || src_[pos_] == 'u')) {
      ++pos_;
    }
    if (!any || (pos_ < src_.size() && is_alnum(src_[pos_]))) {
      while (pos_ < src_.size() && is_alnum(src_[pos_])) ++pos_;
      return fail(error, "malformed number '" + src_.substr(start, pos_ - start) + "'");
    }
    t->value = static_cast<std::uint32_t>(value);
    t->text = src_.substr(start, pos_ - start);
    return true;
  }

  const std::string& src_;
  const std::string& file_;
  int line_;
  std::size_t pos_ = 0;
};

class parser {
 public:
  parser(script* out, std::string* error) : out_(out), error_(error) {}

  bool run(const std::string& path, bool header) {
    file_ = path;
    std::string text;
    if (!read_file(path, &text)) {
      *error_ = path + ": cannot be read";
      return false;
    }
    if (!lexer(text, file_, 1).run(&toks_, error_)) return false;
    while (peek().k != kind::end) {
      if (peek().k == kind::directive) {
        if (!directive(next(), header)) return false;
      } else if (header) {
        return fail("a header may hold only #define and #pragma once");
      } else if (!statement()) {
        return false;
      }
    }
    return true;
  }

 private:
  // --- tokens -----------------------------------------------------------------------------------

  const token& peek() const { return toks_[pos_]; }
  const token& next() {
    const token& t = toks_[pos_];
    if (t.k != kind::end) ++pos_;
    return t;
  }
  bool at_word(const char* w) const { return peek().k == kind::word && peek().text == w; }
  bool at_punct(char c) const {
    return peek().k == kind::punct && peek().text.size() == 1 && peek().text[0] == c;
  }

  bool fail(const std::string& why) { return fail_at(peek().line, why); }
  bool fail_at(int line, const std::string& why) {
    *error_ = file_ + ":" + std::to_string(line) + ": " + why;
    return false;
  }

  std::string describe(const token& t) const {
    switch (t.k) {
      case kind::end:
        return "end of file";
      case kind::string:
        return "\"" + t.text + "\"";
      case kind::directive:
        return "#" + t.text;
      default:
        return "'" + t.text + "'";
    }
  }

  bool expect_punct(char c) {
    if (!at_punct(c)) {
      return fail(std::string("expected '") + c + "' but found " + describe(peek()));
    }
    next();
    return true;
  }

  bool expect_string(std::string* s) {
    if (peek().k != kind::string) return fail("expected a string but found " + describe(peek()));
    *s = next().text;
    return true;
  }

  bool begin_block() {
    if (at_word("BEGIN") || at_punct('{')) {
      next();
      return true;
    }
    return fail("expected BEGIN but found " + describe(peek()));
  }
  bool at_block_end() const { return at_word("END") || at_punct('}'); }

  // --- expressions ------------------------------------------------------------------------------

  bool lookup(const std::string& name, std::uint32_t* value) const {
    auto it = out_->defines.find(name);
    if (it != out_->defines.end()) {
      *value = static_cast<std::uint32_t>(it->second);
      return true;
    }
    for (const named_value& b : kBuiltins) {
      if (name == b.name) {
        *value = b.value;
        return true;
      }
    }
    return false;
  }

  bool term(std::uint32_t* value) {
    if (peek().k == kind::number) {
      *value = next().value;
      return true;
    }
    if (peek().k == kind::word) {
      if (!lookup(peek().text, value)) return fail("unknown identifier '" + peek().text + "'");
      next();
      return true;
    }
    if (at_punct('(')) {
      next();
      return expression(value) && expect_punct(')');
    }
    return fail("expected a value but found " + describe(peek()));
  }

  // Only '|' is needed: styles are flag sets, everything else is a plain number or name.
  bool expression(std::uint32_t* value) {
    if (!term(value)) return false;
    while (at_punct('|')) {
      next();
      std::uint32_t more;
      if (!term(&more)) return false;
      *value |= more;
    }
    return true;
  }

  bool bounded(std::uint32_t limit, const char* what, std::uint32_t* value) {
    if (!expression(value)) return false;
    if (*value > limit) return fail(std::string(what) + " out of range");
    return true;
  }

  // Coordinates and sizes are 16-bit signed in a dialog template.
  bool coordinate(int* value) {
    std::uint32_t v;
    if (!bounded(0x7FFF, "coordinate", &v)) return false;
    *value = static_cast<int>(v);
    return true;
  }

  bool rectangle(int* x, int* y, int* w, int* h) {
    return coordinate(x) && expect_punct(',') && coordinate(y) && expect_punct(',') &&
           coordinate(w) && expect_punct(',') && coordinate(h);
  }

  // --- preprocessor lines -----------------------------------------------------------------------

  // Takes a copy: define() swaps the token vector out while it evaluates the value.
  bool directive(token t, bool header) {
    std::size_t i = 0;
    const std::string& s = t.text;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    std::size_t start = i;
    while (i < s.size() && is_alnum(s[i])) ++i;
    std::string word = s.substr(start, i - start);
    std::string rest = s.substr(i);
    if (word == "define") return define(rest, t.line);
    if (word == "pragma" && header) return pragma(rest, t.line);
    if (word == "include" && !header) return include(rest, t.line);
    return fail_at(t.line, "unsupported directive #" + word);
  }

  bool trailing_tokens(const std::string& text, int line, std::vector<token>* toks) {
    return lexer(text, file_, line).run(toks, error_);
  }

  bool nothing_after(const std::string& text, int line, const char* what) {
    std::vector<token> toks;
    if (!trailing_tokens(text, line, &toks)) return false;
    if (toks.front().k != kind::end) {
      return fail_at(line, std::string("unexpected text after ") + what);
    }
    return true;
  }

  bool define(const std::string& rest, int line) {
    std::vector<token> toks;
    if (!trailing_tokens(rest, line, &toks)) return false;
    if (toks.front().k != kind::word) return fail_at(line, "#define without a name");
    std::string name = toks.front().text;
    if (toks[1].k == kind::end) return fail_at(line, "#define " + name + " without a value");
    // Evaluate the value with this parser's expression rules on the directive's own tokens.
    std::vector<token> saved_toks = std::move(toks_);
    std::size_t saved_pos = pos_;
    toks_.assign(std::make_move_iterator(toks.begin() + 1), std::make_move_iterator(toks.end()));
    pos_ = 0;
    std::uint32_t value = 0;
    bool ok = expression(&value);
    if (ok && peek().k != kind::end) ok = fail("unexpected " + describe(peek()) + " in #define");
    toks_ = std::move(saved_toks);
    pos_ = saved_pos;
    if (!ok) return false;
    auto found = out_->defines.find(name);
    if (found != out_->defines.end() && found->second != static_cast<long>(value)) {
      return fail_at(line, name + " is defined twice with different values");
    }
    out_->defines[name] = static_cast<long>(value);
    return true;
  }

  bool pragma(const std::string& rest, int line) {
    std::vector<token> toks;
    if (!trailing_tokens(rest, line, &toks)) return false;
    if (toks.size() != 2 || toks[0].k != kind::word || toks[0].text != "once") {
      return fail_at(line, "unsupported #pragma");
    }
    return true;
  }

  // <...> names a Windows header: its values come from kBuiltins. "..." names a header of the
  // project, read from the script's folder.
  bool include(const std::string& rest, int line) {
    std::size_t i = rest.find_first_not_of(" \t");
    if (i == std::string::npos) return fail_at(line, "#include without a file");
    char open = rest[i];
    char close = open == '<' ? '>' : open == '"' ? '"' : '\0';
    std::size_t end = close ? rest.find(close, i + 1) : std::string::npos;
    if (end == std::string::npos) return fail_at(line, "malformed #include");
    if (!nothing_after(rest.substr(end + 1), line, "#include")) return false;
    if (open == '<') return true;
    std::string name = rest.substr(i + 1, end - i - 1);
    std::size_t slash = file_.find_last_of('/');
    std::string path = slash == std::string::npos ? name : file_.substr(0, slash + 1) + name;
    return parser(out_, error_).run(path, true);
  }

  // --- statements -------------------------------------------------------------------------------

  void add_resource(const std::string& type, const std::string& name) {
    out_->resource_types.push_back(type);
    out_->resources.push_back(resource_entry{type, name, language_});
  }

  bool statement() {
    if (at_word("LANGUAGE")) return language();
    if (at_word("STRINGTABLE")) return string_table();
    std::string name;
    const token& t = next();
    std::uint32_t value;
    if (t.k == kind::word) {
      name = lookup(t.text, &value) ? std::to_string(value) : t.text;
    } else if (t.k == kind::number) {
      name = std::to_string(t.value);
    } else if (t.k == kind::string) {
      name = t.text;
    } else {
      --pos_;
      return fail("unexpected " + describe(t));
    }
    if (at_word("DIALOG")) return dialog_statement(name);
    if (at_word("VERSIONINFO")) return version_info(name);
    return file_resource(name);
  }

  bool language() {
    next();
    std::string parts[2];
    for (int i = 0; i < 2; ++i) {
      if (i == 1 && !expect_punct(',')) return false;
      if (peek().k != kind::word && peek().k != kind::number) {
        return fail("expected a language identifier but found " + describe(peek()));
      }
      std::uint32_t unused;
      if (!term(&unused)) return false;
      parts[i] = toks_[pos_ - 1].text;
    }
    language_ = parts[0] + ", " + parts[1];
    return true;
  }

  bool string_table() {
    next();
    if (!begin_block()) return false;
    while (!at_block_end()) {
      std::uint32_t id;
      std::string text;
      int line = peek().line;
      if (!bounded(0xFFFF, "string id", &id)) return false;
      if (at_punct(',')) next();
      if (!expect_string(&text)) return false;
      if (!out_->strings.emplace(id, widen(text)).second) {
        return fail_at(line, "string " + std::to_string(id) + " appears twice");
      }
    }
    next();
    add_resource("STRINGTABLE", std::string());
    return true;
  }

  bool dialog_statement(const std::string& name) {
    next();
    dialog d{name, 0, 0, 0, 0, 0, std::u16string(), 0, std::string(), language_, {}};
    if (find_dialog(*out_, name)) return fail("dialog " + name + " appears twice");
    if (!rectangle(&d.x, &d.y, &d.w, &d.h)) return false;
    bool have_style = false, have_caption = false, have_font = false;
    std::uint32_t style = 0;
    while (!at_word("BEGIN") && !at_punct('{')) {
      if (at_word("STYLE") && !have_style) {
        next();
        if (!expression(&style)) return false;
        have_style = true;
      } else if (at_word("CAPTION") && !have_caption) {
        next();
        std::string caption;
        if (!expect_string(&caption)) return false;
        d.caption = widen(caption);
        have_caption = true;
      } else if (at_word("FONT") && !have_font) {
        next();
        std::uint32_t points;
        if (!bounded(0xFFFF, "font size", &points) || !expect_punct(',') ||
            !expect_string(&d.font_face)) {
          return false;
        }
        d.font_points = static_cast<int>(points);
        have_font = true;
      } else {
        return fail("unsupported or repeated dialog statement " + describe(peek()));
      }
    }
    // windres's default style differs from what the program needs, so the script must state it.
    if (!have_style) return fail("dialog " + name + " has no STYLE");
    d.style = style | (have_caption ? kWsCaption : 0) | (have_font ? kDsSetFont : 0);
    next();
    while (!at_block_end()) {
      if (!at_word("CONTROL")) {
        return fail("expected CONTROL or END but found " + describe(peek()));
      }
      next();
      control c{0, std::u16string(), std::string(), 0, 0, 0, 0, 0};
      std::string text;
      std::uint32_t id;
      if (!expect_string(&text) || !expect_punct(',') || !bounded(0xFFFF, "control id", &id) ||
          !expect_punct(',') || !expect_string(&c.class_name) || !expect_punct(',') ||
          !expression(&c.style) || !expect_punct(',') || !rectangle(&c.x, &c.y, &c.w, &c.h)) {
        return false;
      }
      if (at_punct(',')) return fail("extended control fields are not supported");
      c.id = static_cast<int>(id);
      c.text = widen(text);
      c.style |= kWsChild | kWsVisible;
      d.controls.push_back(std::move(c));
    }
    next();
    out_->dialogs.push_back(std::move(d));
    add_resource("DIALOG", name);
    return true;
  }

  bool version_numbers(std::string* out) {
    for (int i = 0; i < 4; ++i) {
      if (i > 0 && !expect_punct(',')) return false;
      std::uint32_t part;
      if (!bounded(0xFFFF, "version part", &part)) return false;
      *out += (i > 0 ? "," : "") + std::to_string(part);
    }
    return true;
  }

  bool version_info(const std::string& name) {
    next();
    for (const std::string& type : out_->resource_types) {
      if (type == "VERSIONINFO") return fail("a second VERSIONINFO");
    }
    while (!at_word("BEGIN") && !at_punct('{')) {
      if (peek().k != kind::word) return fail("unexpected " + describe(peek()) + " in VERSIONINFO");
      std::string field = next().text;
      if (field == "FILEVERSION" && out_->file_version.empty()) {
        if (!version_numbers(&out_->file_version)) return false;
      } else if (field == "PRODUCTVERSION" && out_->product_version.empty()) {
        if (!version_numbers(&out_->product_version)) return false;
      } else if ((field == "FILEFLAGSMASK" || field == "FILEFLAGS" || field == "FILEOS" ||
                  field == "FILETYPE" || field == "FILESUBTYPE") &&
                 !out_->version_fixed.count(field)) {
        if (!expression(&out_->version_fixed[field])) return false;
      } else {
        --pos_;
        return fail("unsupported or repeated VERSIONINFO statement '" + field + "'");
      }
    }
    next();
    while (!at_block_end()) {
      std::string block;
      if (!at_word("BLOCK")) return fail("expected BLOCK but found " + describe(peek()));
      next();
      if (!expect_string(&block) || !begin_block()) return false;
      if (block == "StringFileInfo") {
        if (!string_file_info()) return false;
      } else if (block == "VarFileInfo") {
        if (!var_file_info()) return false;
      } else {
        return fail("unsupported version block \"" + block + "\"");
      }
    }
    next();
    add_resource("VERSIONINFO", name);
    return true;
  }

  bool string_file_info() {
    while (!at_block_end()) {
      if (!out_->version_string_block.empty()) return fail("more than one string block");
      if (!at_word("BLOCK")) return fail("expected BLOCK but found " + describe(peek()));
      next();
      if (!expect_string(&out_->version_string_block) || !begin_block()) return false;
      while (!at_block_end()) {
        std::string key, value;
        if (!at_word("VALUE")) return fail("expected VALUE but found " + describe(peek()));
        int line = next().line;
        if (!expect_string(&key) || !expect_punct(',') || !expect_string(&value)) return false;
        if (!out_->version_strings.emplace(key, value).second) {
          return fail_at(line, "version string \"" + key + "\" appears twice");
        }
      }
      next();
    }
    next();
    return true;
  }

  bool var_file_info() {
    while (!at_block_end()) {
      std::string key;
      if (!at_word("VALUE")) return fail("expected VALUE but found " + describe(peek()));
      next();
      if (!expect_string(&key)) return false;
      if (key != "Translation") return fail("unsupported VarFileInfo value \"" + key + "\"");
      while (at_punct(',')) {
        next();
        std::uint32_t word;
        if (!bounded(0xFFFF, "translation word", &word)) return false;
        out_->version_translation.push_back(word);
      }
    }
    next();
    return true;
  }

  // name TYPE "file": a resource taken whole from a file, such as a manifest or an icon. Only its
  // type is recorded; a numeric type, or a name for one, is recorded as its decimal value.
  bool file_resource(const std::string& name) {
    std::string type;
    std::uint32_t value;
    if (peek().k == kind::number) {
      type = std::to_string(peek().value);
    } else if (peek().k == kind::word) {
      type = lookup(peek().text, &value) ? std::to_string(value) : peek().text;
    }
    if (type.empty() || toks_[pos_ + 1].k != kind::string) {
      return fail("unsupported statement " + describe(peek()) + " after " + name);
    }
    next();
    next();
    add_resource(type, name);
    return true;
  }

  script* out_;
  std::string* error_;
  std::string file_;
  std::vector<token> toks_;
  std::size_t pos_ = 0;
  std::string language_;
};

}  // namespace

bool load(const std::string& rc_path, script* out, std::string* error) {
  *out = script();
  return parser(out, error).run(rc_path, false);
}

const script& project_script() {
  static const script loaded = [] {
    script s;
    std::string error;
    if (!load(VIVEDIZ_RESOURCE_DIR "/vivediz.rc", &s, &error)) {
      std::fprintf(stderr, "cannot load the resource script: %s\n", error.c_str());
      std::abort();
    }
    return s;
  }();
  return loaded;
}

const dialog* find_dialog(const script& s, const std::string& name) {
  for (const dialog& d : s.dialogs) {
    if (d.name == name) return &d;
  }
  return nullptr;
}

}  // namespace rc
