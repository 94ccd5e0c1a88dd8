// How far the core strtod (digit by digit, each step rounded, not
// correctly rounded) lands from the host library's correctly rounded one,
// over a large fixed set of decimal texts: short and long significands,
// tiny and huge exponents, halfway cases. Prints a distribution, not a
// verdict: this is a measurement, not a test.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>

extern "C" double kivos_strtod(const char *s, char **end);

namespace {

int64_t ordered(double d) {
  int64_t i;
  std::memcpy(&i, &d, 8);
  return i < 0 ? INT64_MIN - i : i;
}

std::string digits(std::mt19937_64 &rng, int n) {
  std::string s(1, char('1' + rng() % 9));
  while (int(s.size()) < n) s += char('0' + rng() % 10);
  return s;
}

} // namespace

int main(int argc, char **argv) {
  long count = argc > 1 ? std::atol(argv[1]) : 1000000;
  std::mt19937_64 rng(20261207);
  std::map<int64_t, long> ulps; // distance in units in the last place, capped
  std::map<std::string, long> differing;
  const char *const kinds[] = {"short", "long", "tiny", "huge", "halfway"};
  for (long i = 0; i < count; ++i) {
    const char *kind = kinds[i % 5];
    std::string text;
    switch (i % 5) {
    case 0: // up to 9 digits, modest exponents
      text = digits(rng, 1 + int(rng() % 9)) + "e" + std::to_string(int(rng() % 41) - 20);
      break;
    case 1: // 17 to 40 digits with a point
      text = digits(rng, 17 + int(rng() % 24));
      text.insert(1 + rng() % (text.size() - 1), ".");
      text += "e" + std::to_string(int(rng() % 61) - 30);
      break;
    case 2: // near the subnormal range
      text = digits(rng, 1 + int(rng() % 17)) + "e-" + std::to_string(300 + rng() % 40);
      break;
    case 3: // near the top of the range
      text = digits(rng, 1 + int(rng() % 17)) + "e" + std::to_string(280 + rng() % 28);
      break;
    case 4: { // exactly halfway between two doubles
      double d = std::ldexp(double(rng() >> 11 | 1ull << 52), int(rng() % 200) - 100 - 52);
      // The midpoint needs 54 bits: exact in the extended format, printed
      // with enough digits to be exact in decimal as well.
      char buf[128];
      std::snprintf(buf, sizeof buf, "%.80Le",
                    (long double)d / 2 + (long double)std::nextafter(d, INFINITY) / 2);
      text = buf;
      break;
    }
    }
    double mine = kivos_strtod(text.c_str(), nullptr), theirs = std::strtod(text.c_str(), nullptr);
    int64_t d = std::llabs(ordered(mine) - ordered(theirs));
    ++ulps[d > 16 ? 17 : d];
    if (d) ++differing[kind];
  }
  long total = 0;
  for (auto &[k, n] : differing) total += n;
  std::printf("%ld texts, %ld results differ from the host's (%.2f%%)\n", count, total,
              100.0 * double(total) / double(count));
  for (const char *kind : kinds)
    std::printf("  %-8s %ld of %ld differ\n", kind, differing[kind], count / 5);
  std::printf("distance in units in the last place:\n");
  for (auto &[k, n] : ulps)
    std::printf("  %s%-3lld %ld\n", k > 16 ? ">" : " ", (long long)(k > 16 ? 16 : k), n);
  return 0;
}
