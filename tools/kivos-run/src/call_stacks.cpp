#include "call_stacks.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace kivos {

uint32_t call_tree::child(uint32_t parent, uint32_t function) {
  if (nodes[parent].function == deeper) return parent;
  if (nodes[parent].depth >= max_depth) function = deeper;
  auto [at, fresh] =
      children.try_emplace(uint64_t(parent) << 32 | function, uint32_t(nodes.size()));
  if (fresh) nodes.push_back({function, parent, nodes[parent].depth + 1, 0});
  return at->second;
}

namespace {

// Names come from the program's symbol table, so any byte may be in them:
// what would break a line of stacks or the XML becomes '?'.
std::string printable(std::string_view name) {
  std::string out(name);
  for (char &c : out)
    if (uint8_t(c) < 0x20 || uint8_t(c) >= 0x7f || c == ';') c = '?';
  return out;
}

} // namespace

void add_stacks(const call_tree &tree, const std::string &process,
                const std::function<const std::string &(uint32_t)> &function_name,
                std::vector<call_stack> &out) {
  for (uint32_t i = 1; i < tree.nodes.size(); ++i) {
    if (!tree.nodes[i].instructions) continue;
    call_stack s{{}, tree.nodes[i].instructions};
    for (uint32_t n = i; n != call_tree::root; n = tree.nodes[n].parent) {
      uint32_t f = tree.nodes[n].function;
      s.frames.push_back(f == call_tree::deeper ? "(deeper calls)" : printable(function_name(f)));
    }
    s.frames.push_back(printable(process));
    std::reverse(s.frames.begin(), s.frames.end());
    out.push_back(std::move(s));
  }
}

std::string folded_stacks(const std::vector<call_stack> &stacks) {
  std::vector<std::string> lines;
  for (const call_stack &s : stacks) {
    std::string line;
    for (const std::string &f : s.frames) line += (line.empty() ? "" : ";") + f;
    lines.push_back(line + " " + std::to_string(s.instructions) + "\n");
  }
  std::sort(lines.begin(), lines.end());
  std::string out;
  for (const std::string &l : lines) out += l;
  return out;
}

namespace {

struct frame_node {
  uint64_t total = 0;
  std::map<std::string, frame_node> children; // by name, as flame graphs order them
};

std::string xml_text(std::string_view s) {
  std::string out;
  for (char c : printable(s)) {
    switch (c) {
    case '&':
      out += "&amp;";
      break;
    case '<':
      out += "&lt;";
      break;
    case '>':
      out += "&gt;";
      break;
    case '"':
      out += "&quot;";
      break;
    default:
      out += c;
    }
  }
  return out;
}

struct layout {
  static constexpr double width = 1200, margin = 10, row = 17, char_width = 7.2;
  double scale = 0;  // pixels per instruction
  double bottom = 0; // the y of the lowest row
  uint64_t all = 0;
  std::string svg;

  // Draws a frame and, above it, its callees.
  void draw(const std::string &name, const frame_node &n, double x, int depth) {
    double w = double(n.total) * scale;
    if (w < 0.1) return;
    double y = bottom - depth * row;
    // A warm colour that stays the same for a name from picture to picture.
    uint32_t h = 2166136261u;
    for (char c : name) h = (h ^ uint8_t(c)) * 16777619u;
    char share[32];
    std::snprintf(share, sizeof share, "%.2f%%", 100.0 * double(n.total) / double(all));
    std::string g = "<g><title>" + xml_text(name) + " (" + std::to_string(n.total) +
                    " instructions, " + share + ")</title>";
    char rect[200];
    std::snprintf(rect, sizeof rect,
                  "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.0f\" rx=\"2\" "
                  "fill=\"rgb(%u,%u,%u)\"/>",
                  x, y, w, row - 1, 205 + h % 50, 80 + (h >> 8) % 150, 40 + (h >> 16) % 50);
    g += rect;
    size_t fits = size_t((w - 6) / char_width);
    if (fits >= 3) {
      std::string label = name.size() <= fits ? name : name.substr(0, fits - 2) + "..";
      char at[80];
      std::snprintf(at, sizeof at, "<text x=\"%.1f\" y=\"%.1f\">", x + 3, y + row - 5);
      g += at + xml_text(label) + "</text>";
    }
    svg += g + "</g>\n";
    for (const auto &[child, c] : n.children) {
      draw(child, c, x, depth + 1);
      x += double(c.total) * scale;
    }
  }
};

int height(const frame_node &n) {
  int h = 0;
  for (const auto &[name, c] : n.children) h = std::max(h, 1 + height(c));
  return h;
}

} // namespace

std::string flame_graph(const std::vector<call_stack> &stacks, const std::string &title) {
  frame_node all;
  for (const call_stack &s : stacks) {
    all.total += s.instructions;
    frame_node *n = &all;
    for (const std::string &f : s.frames) {
      n = &n->children[f];
      n->total += s.instructions;
    }
  }
  layout l;
  l.all = std::max<uint64_t>(all.total, 1);
  l.scale = (layout::width - 2 * layout::margin) / double(l.all);
  int rows = height(all) + 1;
  double picture = 50 + rows * layout::row + layout::margin;
  l.bottom = picture - layout::margin - layout::row;
  char head[600];
  std::snprintf(head, sizeof head,
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
                "viewBox=\"0 0 %.0f %.0f\" font-family=\"monospace\" font-size=\"12\">\n"
                "<rect width=\"100%%\" height=\"100%%\" fill=\"#f8f8f0\"/>\n"
                "<text x=\"%.0f\" y=\"28\" font-size=\"17\" text-anchor=\"middle\">",
                layout::width, picture, layout::width, picture, layout::width / 2);
  l.svg = head + xml_text(title) + "</text>\n";
  l.draw("all", all, layout::margin, 0);
  return l.svg + "</svg>\n";
}

} // namespace kivos
