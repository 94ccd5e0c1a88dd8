// kivos-meta: shows the command and package records of kivos executables.
#include "elf32.h"
#include "meta_reader.h"
#include "text.h"

#include <version.h>

#include <cstdio>
#include <exception>
#include <string>

namespace {

const char usage[] =
    "Usage: kivos-meta [--json | --check] FILE...\n"
    "\n"
    "Reads the command record (section .kivos.cmdmeta) and the package record\n"
    "(section .kivos.pkgmeta) of each kivos executable and prints their fields.\n"
    "Files whose section headers were stripped are searched through their program\n"
    "headers. The exit status is 0 when every file has both records, well formed,\n"
    "1 otherwise (every fault is named on standard error), and 2 for a bad command\n"
    "line or output that could not be written. Only regular files of at most 1 GiB\n"
    "and 1 MiB are read.\n"
    "\n"
    "  --json     print the records as a JSON array, one object per file\n"
    "  --check    print nothing but the faults\n"
    "  --help     print this help\n"
    "  --version  print the version\n";

// Record strings are bytes, not text in any encoding: each byte outside
// printable ASCII is escaped, as the code point of the same number in JSON
// (so the output is always valid UTF-8) and as \xNN in text.
std::string escaped(const std::string &s, bool json) {
  std::string out;
  for (unsigned char c : s) {
    char buf[8];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20 || c >= 0x7f) {
      std::snprintf(buf, sizeof buf, json ? "\\u%04x" : "\\x%02x", c);
      out += buf;
    } else {
      out += char(c);
    }
  }
  return out;
}

std::string json_string(const std::string &s) {
  return "\"" + escaped(s, true) + "\"";
}

void print_text(const kivos_meta::record_kind &kind, const kivos_meta::record &r) {
  std::printf("  %s: %s, %u bytes at %s\n", kind.what,
              r.from_section ? kind.section : "found in a segment", r.size,
              tools::hex8(r.address).c_str());
  std::printf("    %-14s %s\n", "magic", kind.magic);
  std::printf("    %-14s %u\n", "format version", r.format_version);
  for (size_t i = 0; i < r.strings.size(); ++i)
    std::printf("    %-14s %s\n", kind.fields[i], escaped(r.strings[i], false).c_str());
}

std::string json_record(const kivos_meta::record_kind &kind, const kivos_meta::record &r) {
  std::string s = "{\"section\": " + json_string(r.from_section ? kind.section : "") +
                  ", \"address\": " + std::to_string(r.address) +
                  ", \"size\": " + std::to_string(r.size) +
                  ", \"magic\": " + json_string(kind.magic) +
                  ", \"format_version\": " + std::to_string(r.format_version);
  for (size_t i = 0; i < r.strings.size(); ++i)
    s += ", " + json_string(kind.fields[i]) + ": " + json_string(r.strings[i]);
  return s + "}";
}

} // namespace

int run(int argc, char **argv) {
  enum { text, json, check } mode = text;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(usage, stdout);
      return 0;
    } else if (a == "--version") {
      std::puts("kivos-meta " KIVOS_VERSION);
      return 0;
    } else if (a == "--json" || a == "--check") {
      auto wanted = a == "--json" ? json : check;
      if (mode != text && mode != wanted) {
        std::fprintf(stderr, "kivos-meta: --json and --check exclude each other\n");
        return 2;
      }
      mode = wanted;
    } else if (a.size() > 1 && a[0] == '-' && a != "--") {
      std::fprintf(stderr, "kivos-meta: unknown option %s\nTry 'kivos-meta --help'.\n", a.c_str());
      return 2;
    } else if (a != "--") {
      files.push_back(a);
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "kivos-meta: no file given\nTry 'kivos-meta --help'.\n");
    return 2;
  }
  bool ok = true;
  std::string out = "[";
  for (const std::string &path : files) {
    std::string err;
    kivos_meta::report r;
    if (auto bytes = elf32::read_file(path, err))
      r = kivos_meta::read(*bytes);
    else
      r.errors.push_back(err);
    for (const std::string &e : r.errors)
      std::fprintf(stderr, "kivos-meta: %s: %s\n", escaped(path, false).c_str(), e.c_str());
    ok = ok && r.errors.empty();
    if (mode == text) {
      std::printf("%s:\n", escaped(path, false).c_str());
      if (r.command) print_text(kivos_meta::command_kind(), *r.command);
      if (r.package) print_text(kivos_meta::package_kind(), *r.package);
    } else if (mode == json) {
      if (out.size() > 1) out += ",\n ";
      out += "{\"file\": " + json_string(path);
      if (r.command) out += ", \"command\": " + json_record(kivos_meta::command_kind(), *r.command);
      if (r.package) out += ", \"package\": " + json_record(kivos_meta::package_kind(), *r.package);
      out += ", \"errors\": [";
      for (size_t i = 0; i < r.errors.size(); ++i)
        out += (i ? ", " : "") + json_string(r.errors[i]);
      out += "]}";
    }
  }
  if (mode == json) std::printf("%s]\n", out.c_str());
  return ok ? 0 : 1;
}

int main(int argc, char **argv) {
  try {
    int status = run(argc, argv);
    if (std::string err = tools::output_error(stdout); !err.empty()) {
      std::fprintf(stderr, "kivos-meta: standard output: %s\n", err.c_str());
      return 2;
    }
    return status;
  } catch (const std::exception &e) {
    std::fprintf(stderr, "kivos-meta: %s\n", e.what());
    return 2;
  }
}
