// kivos-meta: shows the command and package records of kivos executables.
#include "elf32.h"
#include "meta_reader.h"

#include <cstdio>
#include <string>

namespace {

const char usage[] =
    "Usage: kivos-meta [--json | --check] FILE...\n"
    "\n"
    "Reads the command record (section .kivos.cmdmeta) and the package record\n"
    "(section .kivos.pkgmeta) of each kivos executable and prints their fields.\n"
    "Files whose section headers were stripped are searched through their program\n"
    "headers. The exit status is 0 when every file has both records, well formed,\n"
    "and 1 otherwise; every fault is named on standard error.\n"
    "\n"
    "  --json   print the records as a JSON array, one object per file\n"
    "  --check  print nothing but the faults\n"
    "  --help   print this help\n";

std::string json_string(const std::string &s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20 || c == 0x7f) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

std::string hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08x", v);
  return buf;
}

void print_text(const kivos_meta::record_kind &kind, const kivos_meta::record &r) {
  std::printf("  %s: %s, %u bytes at %s\n", kind.what,
              r.from_section ? kind.section : "found in a segment", r.size, hex(r.address).c_str());
  std::printf("    %-14s %s\n", "magic", kind.magic);
  std::printf("    %-14s %u\n", "format version", r.format_version);
  for (size_t i = 0; i < r.strings.size(); ++i)
    std::printf("    %-14s %s\n", kind.fields[i], r.strings[i].c_str());
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

int main(int argc, char **argv) {
  enum { text, json, check } mode = text;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(usage, stdout);
      return 0;
    } else if (a == "--json") {
      mode = json;
    } else if (a == "--check") {
      mode = check;
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
      std::fprintf(stderr, "kivos-meta: %s: %s\n", path.c_str(), e.c_str());
    ok = ok && r.errors.empty();
    if (mode == text) {
      std::printf("%s:\n", path.c_str());
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
