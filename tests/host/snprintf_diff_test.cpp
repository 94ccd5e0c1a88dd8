// The buffer formatter against the host C library's snprintf, on random
// formats from the grammar where the two are meant to agree. Set
// KIVOS_DIFF_CASES (and KIVOS_DIFF_SEED) to run more by hand.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

extern "C" int kivos_snprintf(char *buf, size_t size, const char *format, ...);

namespace {

struct generated {
  std::string format;
  std::vector<intptr_t> args; // one word each; an int is the low half of its word
};

const char *const strings[] = {"", "a", "abc", "hello world", "tab\there", "0123456789abcdef0123"};
const int32_t ints[] = {0, 1, -1, 7, -7, 42, 255, 1000000, INT32_MAX, INT32_MIN, 0x12345678};

// What the grammar leaves out, and why:
// - 'c' and '%' take no flags, width or precision (the host pads them, ours does not);
// - 's' takes only the '-' flag (the '0' and '+' flags are undefined for it);
// - a '*' width is never negative (the host turns it into a '-' flag, ours fills nothing);
// - zero under precision 0 (the host prints nothing for it, ours prints 0);
// - length letters and 'p' (the host takes 64-bit arguments for them).
generated generate(std::mt19937 &rng) {
  auto pick = [&](int n) { return int(rng() % unsigned(n)); };
  generated g;
  int pieces = 1 + pick(4);
  for (int p = 0; p < pieces; ++p) {
    for (int i = pick(4); i > 0; --i) {
      char c = char(' ' + pick(95));
      g.format += c == '%' ? 'q' : c;
    }
    const char conv = "diuxXsc%"[pick(8)];
    g.format += '%';
    if (conv == 'c' || conv == '%') {
      g.format += conv;
      if (conv == 'c') g.args.push_back('!' + pick(90));
      continue;
    }
    for (int i = pick(4); i > 0; --i) g.format += conv == 's' ? '-' : "-0+"[pick(3)];
    switch (pick(3)) {
    case 0:
      break;
    case 1:
      g.format += std::to_string(1 + pick(30));
      break;
    case 2:
      g.format += '*';
      g.args.push_back(pick(31));
      break;
    }
    int precision = -1;
    switch (pick(4)) {
    case 0:
      break;
    case 1:
      g.format += '.';
      precision = 0;
      break;
    case 2:
      precision = pick(21);
      g.format += '.' + std::to_string(precision);
      break;
    case 3:
      precision = pick(24) - 3;
      g.format += ".*";
      g.args.push_back(precision);
      break;
    }
    g.format += conv;
    if (conv == 's') {
      g.args.push_back(intptr_t(strings[pick(6)]));
    } else {
      int32_t v = pick(3) ? ints[pick(11)] : int32_t(rng());
      if (v == 0 && precision == 0) v = 1;
      g.args.push_back(v);
    }
  }
  return g;
}

template <typename F> int call(F f, char *buf, size_t size, const generated &g) {
  intptr_t a[12] = {};
  for (size_t i = 0; i < g.args.size() && i < 12; ++i) a[i] = g.args[i];
  return f(buf, size, g.format.c_str(), a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9],
           a[10], a[11]);
}

unsigned long env(const char *name, unsigned long fallback) {
  const char *v = std::getenv(name);
  return v ? std::strtoul(v, nullptr, 0) : fallback;
}

TEST(SnprintfDifferential, AgreesWithTheHostLibrary) {
  std::mt19937 rng(unsigned(env("KIVOS_DIFF_SEED", 20261207)));
  unsigned long cases = env("KIVOS_DIFF_CASES", 20000);
  for (unsigned long n = 0; n < cases; ++n) {
    generated g = generate(rng);
    size_t size = rng() % 4 == 0 ? 200 : rng() % 90;
    char ours[256], theirs[256];
    std::memset(ours, 0x5a, sizeof ours);
    std::memset(theirs, 0x5a, sizeof theirs);
    int r1 = call(kivos_snprintf, ours, size, g);
    int r2 = call(std::snprintf, theirs, size, g);
    ASSERT_EQ(r1, r2) << "format \"" << g.format << "\", size " << size;
    ASSERT_EQ(std::memcmp(ours, theirs, sizeof ours), 0)
        << "format \"" << g.format << "\", size " << size << ": \"" << ours << "\" vs \"" << theirs
        << "\"";
  }
}

} // namespace
