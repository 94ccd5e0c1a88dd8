// Call stacks of a run: the tree of calls each process made, as the
// emulator follows them, and the pictures drawn from it (folded stacks for
// flame-graph tools, and a flame graph as SVG).
#pragma once

#include <cstdint>
#include <functional>
#include <kivos/run.h>
#include <string>
#include <unordered_map>
#include <vector>

namespace kivos {

// Every distinct chain of calls from a process's start, with the
// instructions run in each (not counting its callees).
struct call_tree {
  static constexpr uint32_t root = 0;
  // Calls deeper than this share one node, so a runaway recursion cannot
  // make the pictures quadratic in its depth.
  static constexpr uint32_t max_depth = 512;
  static constexpr uint32_t deeper = UINT32_MAX; // the function of that node

  struct node {
    uint32_t function = 0; // an index into the program's functions, or `deeper`
    uint32_t parent = 0;
    uint32_t depth = 0;
    uint64_t instructions = 0;
  };
  std::vector<node> nodes{node{}};
  std::unordered_map<uint64_t, uint32_t> children; // by parent << 32 | function

  // The node for calling function from parent, made on first use.
  uint32_t child(uint32_t parent, uint32_t function);
};

// The stacks of a tree with instructions of their own, root first, under a
// first frame that names the process.
void add_stacks(const call_tree &tree, const std::string &process,
                const std::function<const std::string &(uint32_t)> &function_name,
                std::vector<call_stack> &out);

// One line per stack: frames joined by ';', a space, the instruction count.
std::string folded_stacks(const std::vector<call_stack> &stacks);

// A self-contained SVG flame graph of the stacks, widths by instructions.
std::string flame_graph(const std::vector<call_stack> &stacks, const std::string &title);

} // namespace kivos
