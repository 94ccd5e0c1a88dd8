#include "coverage.h"

#include <algorithm>
#include <elfutils/libdw.h>
#include <libelf.h>
#include <map>

namespace kivos {

std::string line_starts::read(std::span<uint8_t> image) {
  elf_version(EV_CURRENT);
  Elf *elf = elf_memory(reinterpret_cast<char *>(image.data()), image.size());
  Dwarf *dwarf = elf ? dwarf_begin_elf(elf, DWARF_C_READ, nullptr) : nullptr;
  std::map<std::pair<std::string, int>, uint32_t> index;
  Dwarf_Off at = 0, next;
  size_t header;
  while (dwarf && dwarf_nextcu(dwarf, at, &next, &header, nullptr, nullptr, nullptr) == 0) {
    Dwarf_Die unit;
    Dwarf_Lines *table;
    size_t count;
    if (dwarf_offdie(dwarf, at + header, &unit) && dwarf_getsrclines(&unit, &table, &count) == 0) {
      for (size_t i = 0; i < count; ++i) {
        Dwarf_Line *row = dwarf_onesrcline(table, i);
        Dwarf_Addr address;
        int number;
        bool statement = false, end = false;
        const char *file = dwarf_linesrc(row, nullptr, nullptr);
        if (dwarf_lineaddr(row, &address) != 0 || dwarf_lineno(row, &number) != 0 || !file ||
            number <= 0 || dwarf_linebeginstatement(row, &statement) != 0 || !statement ||
            dwarf_lineendsequence(row, &end) != 0 || end)
          continue;
        auto [it, fresh] = index.try_emplace({file, number}, uint32_t(lines.size()));
        if (fresh) lines.push_back({file, number, 0});
        starts.push_back({uint32_t(address), it->second});
      }
    }
    at = next;
  }
  if (dwarf) dwarf_end(dwarf);
  if (elf) elf_end(elf);
  std::sort(starts.begin(), starts.end());
  starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
  return starts.empty() ? "no line information to cover (build it with -g)" : "";
}

std::vector<uint32_t> line_starts::within(uint32_t address, uint32_t size) const {
  std::vector<uint32_t> found;
  auto it = std::lower_bound(starts.begin(), starts.end(), std::pair{address, 0u});
  for (; it != starts.end() && it->first - address < size; ++it) found.push_back(it->second);
  return found;
}

const line_starts::line *line_starts::at(uint32_t address) const {
  auto it = std::upper_bound(starts.begin(), starts.end(), std::pair{address, UINT32_MAX});
  return it == starts.begin() ? nullptr : &lines[(it - 1)->second];
}

std::string lcov(const std::vector<const covered_program *> &programs) {
  // By file, lines in order; a function belongs to the file of its first
  // line, and the same name there is the same function.
  std::map<std::string, std::map<int, uint64_t>> files;
  std::map<std::string, std::map<std::string, std::pair<int, uint64_t>>> named;
  for (const covered_program *p : programs) {
    for (const line_starts::line &l : p->lines.lines) files[l.file][l.number] += l.count;
    for (const function_count &f : p->functions)
      if (const line_starts::line *l = p->lines.at(f.address)) {
        auto &[line, entries] = named[l->file][f.name];
        line = l->number;
        entries += f.entries;
      }
  }
  std::string out = "TN:\n";
  auto n = [](uint64_t v) { return std::to_string(v); };
  for (const auto &[file, lines] : files) {
    out += "SF:" + file + "\n";
    const auto &functions = named[file];
    size_t hit = 0;
    for (const auto &[name, f] : functions) out += "FN:" + n(uint64_t(f.first)) + "," + name + "\n";
    for (const auto &[name, f] : functions) {
      out += "FNDA:" + n(f.second) + "," + name + "\n";
      hit += f.second > 0;
    }
    out += "FNF:" + n(functions.size()) + "\nFNH:" + n(hit) + "\n";
    hit = 0;
    for (auto [number, count] : lines) {
      out += "DA:" + n(uint64_t(number)) + "," + n(count) + "\n";
      hit += count > 0;
    }
    out += "LF:" + n(lines.size()) + "\nLH:" + n(hit) + "\nend_of_record\n";
  }
  return out;
}

} // namespace kivos
