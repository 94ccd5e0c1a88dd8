// Character classes of the "C" locale, for unsigned char values and EOF:
// one table of class bits, one bit per test.
#include <ctype.h>

namespace {

enum : unsigned char {
  upper = 1,
  lower = 2,
  digit = 4,
  space = 8,
  punct = 16,
  control = 32,
  hex = 64,
  blank = 128
};

constexpr unsigned char class_of(int c) {
  unsigned char k = 0;
  if (c >= 'A' && c <= 'Z') k |= upper;
  if (c >= 'a' && c <= 'z') k |= lower;
  if (c >= '0' && c <= '9') k |= digit | hex;
  if ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')) k |= hex;
  if (c == ' ' || (c >= '\t' && c <= '\r')) k |= space;
  if (c == ' ' || c == '\t') k |= blank;
  if (c < 0x20 || c == 0x7f) k |= control;
  if (c > 0x20 && c < 0x7f && !(k & (upper | lower | digit))) k |= punct;
  return k;
}

struct class_table {
  unsigned char of[256];
  constexpr class_table() : of() {
    for (int c = 0; c < 128; ++c) of[c] = class_of(c);
  }
};

constexpr class_table table;

// EOF and everything outside 0 to 255 are in no class.
bool is(int c, unsigned char classes) {
  return c >= 0 && c < 256 && (table.of[c] & classes);
}

} // namespace

extern "C" {

int isalnum(int c) {
  return is(c, upper | lower | digit);
}
int isalpha(int c) {
  return is(c, upper | lower);
}
int isblank(int c) {
  return is(c, blank);
}
int iscntrl(int c) {
  return is(c, control);
}
int isdigit(int c) {
  return is(c, digit);
}
int isgraph(int c) {
  return is(c, upper | lower | digit | punct);
}
int islower(int c) {
  return is(c, lower);
}
int isprint(int c) {
  return c == ' ' || is(c, upper | lower | digit | punct);
}
int ispunct(int c) {
  return is(c, punct);
}
int isspace(int c) {
  return is(c, space);
}
int isupper(int c) {
  return is(c, upper);
}
int isxdigit(int c) {
  return is(c, hex);
}
int tolower(int c) {
  return is(c, upper) ? c + 32 : c;
}
int toupper(int c) {
  return is(c, lower) ? c - 32 : c;
}

} // extern "C"
