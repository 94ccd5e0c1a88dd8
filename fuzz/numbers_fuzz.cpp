// The number parsers on any text: no memory error; the integer parsers
// against the host's where both mean to agree (no sign or overflow, bases 0
// and 2 to 16, white space both know); strtold's end against a scan of the
// syntax; strtod as strtold rounded.
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" {
unsigned long kivos_strtoul(const char *s, char **end, int base);
long kivos_strtol(const char *s, char **end, int base);
int kivos_atoi(const char *s);
long double kivos_strtold(const char *s, char **end);
double kivos_strtod(const char *s, char **end);
long long kivos_strtoll(const char *s, char **end, int base);
unsigned long long kivos_strtoull(const char *s, char **end, int base);
extern int kivos_errno;
double kivos_fabs(double), kivos_floor(double), kivos_ceil(double), kivos_trunc(double);
double kivos_round(double), kivos_sqrt(double), kivos_fmod(double, double);
double kivos_ldexp(double, int), kivos_frexp(double, int *), kivos_modf(double, double *);
}

namespace {

void expect(bool ok) {
  if (!ok) __builtin_trap();
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

bool is_hex(char c) {
  return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Where a floating-point number written at s ends, or s when there is none.
const char *number_end(const char *s) {
  const char *p = s + std::strspn(s, " \t\n\v\f\r");
  if (*p == '+' || *p == '-') ++p;
  bool hex = p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
  auto digit = hex ? is_hex : is_digit;
  const char *q = p + (hex ? 2 : 0), *first = q;
  while (digit(*q)) ++q;
  bool before = q > first;
  if (*q == '.' && (hex || before || digit(q[1]))) ++q;
  const char *fraction = q;
  while (digit(*q)) ++q;
  if (!before && q == fraction) return s;
  const char *marker = q;
  if (*marker == (hex ? 'p' : 'e') || *marker == (hex ? 'P' : 'E')) {
    const char *e = marker + 1 + (marker[1] == '+' || marker[1] == '-');
    if (is_digit(*e)) {
      while (is_digit(*e)) ++e;
      q = e;
    }
  }
  return q;
}

// The same double, or both NaN.
bool same(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

// The mathematical functions against the host's, on doubles of any bits.
void compare_mathematics(double x, double y, int n) {
  using unary = double (*)(double);
  const std::pair<unary, unary> functions[] = {{kivos_fabs, fabs},   {kivos_floor, floor},
                                               {kivos_ceil, ceil},   {kivos_trunc, trunc},
                                               {kivos_round, round}, {kivos_sqrt, sqrt}};
  for (auto [mine, host] : functions) expect(same(mine(x), host(x)));
  expect(same(kivos_fmod(x, y), fmod(x, y)) && same(kivos_ldexp(x, n), ldexp(x, n)));
  int e1 = 0, e2 = 0;
  double w1, w2;
  expect(same(kivos_frexp(x, &e1), frexp(x, &e2)) && (std::isnan(x) || std::isinf(x) || e1 == e2));
  expect(same(kivos_modf(x, &w1), modf(x, &w2)) && same(w1, w2));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
  const char *s = text.c_str();
  int base = int8_t(data[0]) % 40; // valid bases, and invalid ones of both signs
  char *end, *host_end;
  unsigned long mine = kivos_strtoul(s, &end, base);
  expect(kivos_strtol(s, nullptr, base) == long(int32_t(mine)));
  int value = kivos_atoi(s);
  bool agreed_text = text.find_first_of("+-\v\f") == std::string::npos;
  if (agreed_text && (base == 0 || (base >= 2 && base <= 16))) {
    errno = 0;
    unsigned long theirs = std::strtoul(s, &host_end, base);
    // With no digits the host ends at the start (here after white space),
    // after a bare "0x" at its 'x' (here after it).
    bool lone_prefix =
        (base == 0 || base == 16) && host_end > s && host_end[-1] == '0' && (*host_end | 32) == 'x';
    bool same_end = end == host_end || host_end == s || lone_prefix;
    if (errno == 0 && theirs <= UINT32_MAX) expect(mine == theirs && same_end);
  }
  if (text.find_first_of("\r\v\f") == std::string::npos) {
    errno = 0;
    long theirs = std::strtol(s, nullptr, 10);
    if (errno == 0 && theirs >= INT32_MIN && theirs <= INT32_MAX) expect(value == int(theirs));
  }
  // The 64-bit parsers follow the C library in everything: sign, white
  // space, overflow, where they end.
  if (base == 0 || (base >= 2 && base <= 36)) {
    char *my_end, *their_end;
    kivos_errno = errno = 0;
    expect(kivos_strtoll(s, &my_end, base) == std::strtoll(s, &their_end, base) &&
           my_end == their_end && (kivos_errno == ERANGE) == (errno == ERANGE));
    kivos_errno = errno = 0;
    expect(kivos_strtoull(s, &my_end, base) == std::strtoull(s, &their_end, base) &&
           my_end == their_end && (kivos_errno == ERANGE) == (errno == ERANGE));
  }
  if (size >= 19) {
    double x, y;
    std::memcpy(&x, data + 1, 8);
    std::memcpy(&y, data + 9, 8);
    compare_mathematics(x, y, int16_t(data[17] | data[18] << 8) % 2200);
  }
  long double v = kivos_strtold(s, &end);
  expect(end == number_end(s));
  double d = kivos_strtod(s, &host_end), rounded = double(v);
  expect(host_end == end && std::memcmp(&d, &rounded, 8) == 0);
  return 0;
}
