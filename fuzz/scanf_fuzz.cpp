// The scan engine on any format and text, each destination exactly as large
// as its conversion may store, so that AddressSanitizer sees a byte too many;
// for odd first bytes, against the host's sscanf where both mean to agree:
// not on white space but SPACE and TAB, %i, %u, %x, %%, widths but on %s, or
// digit runs past 18 (the host saturates). The host's -1 is this engine's 0.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

extern "C" int kivos_sscanf(const char *str, const char *fmt, ...);

namespace {

constexpr size_t max_slots = 8;

std::vector<std::vector<char>> destinations(std::string &format, size_t text_len) {
  std::vector<std::vector<char>> slots;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') continue;
    size_t at = i++;
    bool store = format[i] != '*';
    if (!store) ++i;
    uint32_t width = 0;
    for (; i < format.size() && format[i] >= '0' && format[i] <= '9'; ++i)
      width = width * 10 + uint32_t(format[i] - '0');
    char conv = i < format.size() ? format[i] : 0;
    if (!strchr("diuxXcs%", conv) || conv == 0) break; // the scan ends here
    if (!store || conv == '%') continue;
    if (slots.size() == max_slots) {
      format.resize(at);
      break;
    }
    size_t bytes = conv == 'c'   ? 1
                   : conv == 's' ? (width && width < text_len ? width : text_len) + 1
                                 : 4;
    slots.emplace_back(bytes);
  }
  return slots;
}

template <typename F>
int scan(F f, const std::string &text, const std::string &format,
         std::vector<std::vector<char>> &slots) {
  void *a[max_slots] = {};
  for (size_t i = 0; i < slots.size(); ++i) a[i] = slots[i].data();
  return f(text.c_str(), format.c_str(), a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]);
}

// The fuzzer's bytes as a format and a text of the subset both agree on.
void restrict_to_agreed(std::string &format, std::string &text) {
  static const char *const pieces[] = {"%d", "%s", "%3s", "%c", "%*d", "%*s",
                                       " ",  "\t", ",",   "a",  "-"};
  std::string f;
  for (unsigned char c : format) f += pieces[c % std::size(pieces)];
  format = f;
  static const char letters[] = "0123456789 \t-+,ab";
  int digits = 0;
  for (char &c : text) {
    c = letters[(unsigned char)c % (sizeof letters - 1)];
    digits = c >= '0' && c <= '9' ? digits + 1 : 0;
    if (digits > 18) c = ' ', digits = 0;
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > 512) return 0;
  std::string in(reinterpret_cast<const char *>(data + 1), size - 1);
  size_t bar = in.find('|');
  std::string format = in.substr(0, bar), text = bar == std::string::npos ? "" : in.substr(bar + 1);
  text = text.c_str(); // up to its first NUL, as the engine sees it
  format = format.c_str();
  bool differential = data[0] & 1;
  if (differential) restrict_to_agreed(format, text);
  auto slots = destinations(format, text.size());
  int n = scan(kivos_sscanf, text, format, slots);
  if (n < 0 || size_t(n) > slots.size()) __builtin_trap();
  if (!differential) return 0;
  // The host's sanitizer counts a whole width as written.
  auto host_slots = destinations(format, text.size());
  for (auto &slot : host_slots) slot.resize(slot.size() + 64);
  int m = scan(std::sscanf, text, format, host_slots);
  if ((m < 0 ? 0 : m) != n) __builtin_trap();
  for (int i = 0; i < n; ++i)
    if (std::memcmp(slots[i].data(), host_slots[i].data(), slots[i].size()) != 0) __builtin_trap();
  return 0;
}
