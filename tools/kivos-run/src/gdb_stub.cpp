// The remote protocol, written here: the subset gdb needs for an i386
// program is small (a dozen packets), and a hand-written stub serves the
// emulator's own state directly. Packets are $data#checksum, answered by
// '+'; a lone 0x03 while the program runs is Ctrl-C.
#include "gdb_stub.h"

#include "hook_guard.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace kivos {
namespace {

constexpr int sigint = 2, sigtrap = 5;

// gdb's i386 registers, in its order: the general ones, then the x87 unit.
constexpr int general_registers[] = {
    UC_X86_REG_EAX, UC_X86_REG_ECX,    UC_X86_REG_EDX, UC_X86_REG_EBX,
    UC_X86_REG_ESP, UC_X86_REG_EBP,    UC_X86_REG_ESI, UC_X86_REG_EDI,
    UC_X86_REG_EIP, UC_X86_REG_EFLAGS, UC_X86_REG_CS,  UC_X86_REG_SS,
    UC_X86_REG_DS,  UC_X86_REG_ES,     UC_X86_REG_FS,  UC_X86_REG_GS};
constexpr int fpu_controls[] = {UC_X86_REG_FPCW, UC_X86_REG_FPSW, UC_X86_REG_FPTAG, UC_X86_REG_FCS,
                                UC_X86_REG_FIP,  UC_X86_REG_FDS,  UC_X86_REG_FDP,   UC_X86_REG_FOP};
constexpr int register_count = 16 + 8 + 8; // general, st0 to st7, controls

std::string hex_bytes(const void *data, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    uint8_t b = static_cast<const uint8_t *>(data)[i];
    s += digits[b >> 4];
    s += digits[b & 15];
  }
  return s;
}

int hex_value(char c) {
  return c >= '0' && c <= '9'                 ? c - '0'
         : (c | 32) >= 'a' && (c | 32) <= 'f' ? (c | 32) - 'a' + 10
                                              : -1;
}

// Reads hexadecimal bytes; false at anything else.
bool unhex(const std::string &s, size_t at, size_t n, uint8_t *out) {
  if (s.size() < at + 2 * n) return false;
  for (size_t i = 0; i < n; ++i) {
    int hi = hex_value(s[at + 2 * i]), lo = hex_value(s[at + 2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[i] = uint8_t(hi << 4 | lo);
  }
  return true;
}

// A number in hexadecimal at s[at], moving `at` past it.
uint32_t number(const std::string &s, size_t &at) {
  uint32_t v = 0;
  for (int d; at < s.size() && (d = hex_value(s[at])) >= 0; ++at) v = v << 4 | uint32_t(d);
  return v;
}

struct stub {
  gdb_link &link;
  int fd = -1;
  std::string pending; // bytes read but not yet parsed
  std::map<uint32_t, uc_hook> breakpoints;
  std::map<std::pair<uint32_t, uint32_t>, uc_hook> watchpoints;
  uc_hook after_write = 0; // stops after a watched write, while there are watchpoints
  uint32_t resume_at = 0;  // a breakpoint here does not stop the first instruction
  bool resuming = false;
  bool breakpoint_hit = false;
  std::optional<uint32_t> watch_hit, watch_seen;
  uint64_t left_at_write = 0; // stores_left() at the last watched write
  std::atomic<bool> interrupted{false};
  bool interrupt_pending = false; // a Ctrl-C that came with a packet or an acknowledgement
  std::atomic<bool> gone{false};  // gdb closed the connection while the program ran
  bool killed = false, detached = false;

  // The program runs on without the stub's hooks, and without code
  // translated with them.
  ~stub() {
    for (auto &[address, h] : breakpoints) uc_hook_del(link.uc, h);
    for (auto &[key, h] : watchpoints) uc_hook_del(link.uc, h);
    if (after_write) uc_hook_del(link.uc, after_write);
    for (const region &r : link.memory.regions)
      if (r.prot & prot_exec) uc_ctl_remove_cache(link.uc, r.base, uint64_t(r.base) + r.size);
  }

  uint32_t eip() {
    uint32_t v = 0;
    uc_reg_read(link.uc, UC_X86_REG_EIP, &v);
    return v;
  }

  // The physical register behind st(i): the stack top is in the status word.
  int st_register(int i) {
    uint32_t status = 0;
    uc_reg_read(link.uc, UC_X86_REG_FPSW, &status);
    return UC_X86_REG_FP0 + int((status >> 11) + uint32_t(i)) % 8;
  }

  // Register n as gdb lays it out: 4 bytes, or 10 for st0 to st7.
  std::string read_register(int n) {
    if (n < 16 || n >= 24) {
      uint32_t v = 0;
      uc_reg_read(link.uc, n < 16 ? general_registers[n] : fpu_controls[n - 24], &v);
      return hex_bytes(&v, 4);
    }
    uint8_t bytes[16] = {}; // the emulator gives 8 bytes of significand, 2 of exponent
    uc_reg_read(link.uc, st_register(n - 16), bytes);
    return hex_bytes(bytes, 10);
  }

  bool write_register(int n, const std::string &s, size_t at) {
    if (n < 0 || n >= register_count) return false;
    if (n < 16 || n >= 24) {
      uint32_t v;
      if (!unhex(s, at, 4, reinterpret_cast<uint8_t *>(&v))) return false;
      // The segments are fixed, as for the program itself: loading one
      // without descriptor tables would wreck the emulator's state.
      if (n >= 10 && n < 16) return read_register(n) == s.substr(at, 8);
      return uc_reg_write(link.uc, n < 16 ? general_registers[n] : fpu_controls[n - 24], &v) ==
             UC_ERR_OK;
    }
    uint8_t bytes[16] = {};
    if (!unhex(s, at, 10, bytes)) return false;
    return uc_reg_write(link.uc, st_register(n - 16), bytes) == UC_ERR_OK;
  }

  static void on_breakpoint(uc_engine *uc, uint64_t address, uint32_t, void *user) {
    auto &s = *static_cast<stub *>(user);
    // This Unicorn still calls a deleted hook from code it translated before.
    if (!s.breakpoints.count(uint32_t(address)) || s.link.quiet) return;
    if (s.resuming && address == s.resume_at) {
      s.resuming = false;
      return;
    }
    s.breakpoint_hit = true;
    uc_emu_stop(uc);
  }

  static bool on_watched_write(uc_engine *, uc_mem_type, uint64_t address, int size, int64_t,
                               void *user) {
    auto &s = *static_cast<stub *>(user);
    if (s.link.quiet) return true;
    for (const auto &[key, h] : s.watchpoints)
      if (address < uint64_t(key.first) + key.second && address + uint64_t(size) > key.first)
        s.watch_seen = key.first;
    s.left_at_write = stores_left();
    return true;
  }

  // The store has been made by the time the next instruction starts, unless
  // the emulator left it for code it rewrote: then it is made again, and
  // seen again.
  static void after_each_instruction(uc_engine *uc, uint64_t, uint32_t, void *user) {
    auto &s = *static_cast<stub *>(user);
    if (s.link.quiet) return;
    s.resuming = false;
    if (s.watch_seen && stores_left() != s.left_at_write) s.watch_seen.reset();
    if (!s.watch_seen) return;
    s.watch_hit = s.watch_seen;
    s.watch_seen.reset();
    uc_emu_stop(uc);
  }

  bool set_point(char type, uint32_t address, uint32_t length, bool insert) {
    uc_hook h;
    if (type == '0' || type == '1') { // software and hardware breakpoints alike
      // Code translated while the hook was away must not run without it.
      uc_ctl_remove_cache(link.uc, address, uint64_t(address) + 1);
      auto it = breakpoints.find(address);
      if (!insert) {
        if (it != breakpoints.end()) uc_hook_del(link.uc, it->second), breakpoints.erase(it);
        return true;
      }
      if (it != breakpoints.end()) return true;
      if (uc_hook_add(link.uc, &h, UC_HOOK_CODE, reinterpret_cast<void *>(on_breakpoint), this,
                      address, address) != UC_ERR_OK)
        return false;
      breakpoints[address] = h;
      return true;
    }
    if (type != '2' || length == 0) return false; // only watchpoints on writes
    guard_write_hooks();
    auto key = std::make_pair(address, length);
    auto it = watchpoints.find(key);
    if (!insert) {
      if (it != watchpoints.end()) uc_hook_del(link.uc, it->second), watchpoints.erase(it);
    } else if (it == watchpoints.end()) {
      if (uc_hook_add(link.uc, &h, UC_HOOK_MEM_WRITE, reinterpret_cast<void *>(on_watched_write),
                      this, address, uint64_t(address) + length - 1) != UC_ERR_OK)
        return false;
      watchpoints[key] = h;
    }
    // Checking after every instruction is slow, so only while something is watched.
    if (watchpoints.empty() && after_write) uc_hook_del(link.uc, after_write), after_write = 0;
    if (!watchpoints.empty() && !after_write) {
      uc_hook_add(link.uc, &after_write, UC_HOOK_CODE,
                  reinterpret_cast<void *>(after_each_instruction), this, 1, 0);
      // Code translated before runs the hook only once translated again.
      for (const region &r : link.memory.regions)
        if (r.prot & prot_exec) uc_ctl_remove_cache(link.uc, r.base, uint64_t(r.base) + r.size);
    }
    return true;
  }

  // Runs `run` (the program, forwards or backwards) while a second thread
  // alone reads the connection: a Ctrl-C stops the program, and so does gdb
  // going away; anything else waits in `pending` for the next packet.
  template <typename F> guest_stop listening(F run) {
    std::atomic<bool> running{true};
    std::thread listener;
    if (fd >= 0) {
      listener = std::thread([&] {
        while (running) {
          pollfd p{fd, POLLIN, 0};
          if (poll(&p, 1, 20) <= 0) continue;
          char buf[4096];
          ssize_t n = recv(fd, buf, sizeof buf, 0);
          if (n <= 0) {
            gone = true;
          } else {
            pending.append(buf, size_t(n));
            size_t at = pending.find('\3');
            if (at == std::string::npos) continue;
            pending.erase(at, 1);
            interrupted = true;
          }
          link.interrupt();
          return;
        }
      });
    }
    guest_stop stop = run();
    running = false;
    if (listener.joinable()) listener.join();
    return stop;
  }

  // Runs the guest; a second thread turns gdb's Ctrl-C into a stop, and gdb
  // going away too.
  std::string resume(bool step) {
    resume_at = eip();
    resuming = true;
    breakpoint_hit = false;
    watch_hit.reset();
    interrupted = false;
    // A Ctrl-C that came with the packet, or before it.
    if (size_t at = pending.find('\3'); at < pending.find('$')) {
      pending.erase(at, 1);
      interrupt_pending = true;
    }
    if (std::exchange(interrupt_pending, false)) return "T02thread:1;";
    guest_stop stop = step ? link.resume(true) : listening([&] { return link.resume(false); });
    char reply[64];
    if (stop.kind == guest_stop::exited) {
      std::snprintf(reply, sizeof reply, "W%02x", stop.code & 0xff);
    } else if (stop.kind == guest_stop::faulted) {
      std::snprintf(reply, sizeof reply, "T%02xthread:1;", stop.code);
    } else if (watch_hit) {
      std::snprintf(reply, sizeof reply, "T%02xwatch:%x;thread:1;", sigtrap, *watch_hit);
    } else {
      std::snprintf(reply, sizeof reply, "T%02xthread:1;", interrupted ? sigint : sigtrap);
    }
    return reply;
  }

  bool send(const std::string &data) {
    uint8_t sum = 0;
    for (char c : data) sum = uint8_t(sum + uint8_t(c));
    char tail[4];
    std::snprintf(tail, sizeof tail, "#%02x", sum);
    std::string packet = "$" + data + tail;
    for (int attempt = 0; attempt < 3; ++attempt) {
      if (::send(fd, packet.data(), packet.size(), MSG_NOSIGNAL) != ssize_t(packet.size()))
        return false;
      // '+' takes it, '-' asks again; a Ctrl-C on the way is kept for the
      // next resume, and a packet that comes instead takes it too.
      for (char ack = 0; ack != '-';) {
        if (recv(fd, &ack, 1, 0) != 1) return false;
        if (ack == '+') return true;
        if (ack == 3) interrupt_pending = true;
        if (ack == '$') {
          pending.insert(0, 1, '$');
          return true;
        }
      }
    }
    return false;
  }

  // The next packet's data; nothing when gdb has gone. Bytes outside a
  // packet are dropped (a Ctrl-C among them is kept), a packet whose
  // checksum is wrong is refused with '-', and one that never ends is
  // given up at the largest size this stub accepts.
  std::optional<std::string> receive() {
    constexpr size_t largest = 0x10000 * 2 + 64;
    for (;;) {
      size_t start = pending.find('$');
      if (pending.find('\3') < start) interrupt_pending = true;
      pending.erase(0, std::min(start, pending.size()));
      size_t hash = pending.find('#');
      if (hash != std::string::npos && pending.size() >= hash + 3) {
        std::string data = pending.substr(1, hash - 1);
        uint8_t sum = 0, want = 0;
        for (char c : data) sum = uint8_t(sum + uint8_t(c));
        bool ok = unhex(pending, hash + 1, 1, &want) && want == sum;
        pending.erase(0, hash + 3);
        ::send(fd, ok ? "+" : "-", 1, MSG_NOSIGNAL);
        if (ok) return data;
        continue;
      }
      if (pending.size() > largest) {
        pending.clear();
        ::send(fd, "-", 1, MSG_NOSIGNAL);
      }
      char buf[4096];
      ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n <= 0) return std::nullopt;
      pending.append(buf, size_t(n));
    }
  }

  // The registers of a kivos program's processor, in the order of the 'g'
  // packet: the general and segment registers and the x87 unit, no SSE
  // (kivos programs are built without it).
  static const std::string &description() {
    static const std::string xml = [] {
      std::string x = "<?xml version=\"1.0\"?><!DOCTYPE target SYSTEM \"gdb-target.dtd\">"
                      "<target version=\"1.0\"><architecture>i386</architecture>"
                      "<feature name=\"org.gnu.gdb.i386.core\">";
      auto reg = [&](const std::string &name, int bits, const char *type, const char *group) {
        x += "<reg name=\"" + name + "\" bitsize=\"" + std::to_string(bits) + "\" type=\"" + type +
             "\"" + (*group ? std::string(" group=\"") + group + "\"" : "") + "/>";
      };
      for (const char *name : {"eax", "ecx", "edx", "ebx", "esp", "ebp", "esi", "edi"})
        reg(name, 32, name[1] == 's' || name[2] == 'p' ? "data_ptr" : "int32", "");
      reg("eip", 32, "code_ptr", "");
      for (const char *name : {"eflags", "cs", "ss", "ds", "es", "fs", "gs"})
        reg(name, 32, "int32", "");
      for (int i = 0; i < 8; ++i) reg("st" + std::to_string(i), 80, "i387_ext", "");
      for (const char *name : {"fctrl", "fstat", "ftag", "fiseg", "fioff", "foseg", "fooff", "fop"})
        reg(name, 32, "int", "float");
      return x + "</feature></target>";
    }();
    return xml;
  }

  // qXfer:features:read:target.xml:OFFSET,LENGTH
  static std::string target_description(const std::string &p, size_t at) {
    uint32_t offset = number(p, at);
    uint32_t length = at < p.size() && p[at] == ',' ? number(p, ++at) : 0;
    const std::string &x = description();
    if (offset >= x.size()) return "l";
    std::string part = x.substr(offset, length);
    return (offset + part.size() < x.size() ? "m" : "l") + part;
  }

  // What a packet's handler decided: the reply, and whether the session
  // ends after it (kill, detach, the program's end).
  struct outcome {
    std::string reply;
    bool ends = false;
  };
  using handler = outcome (stub::*)(const std::string &p);

  // ADDRESS,LENGTH at p[at], for m, M, Z, z and qXfer; false when malformed
  // or longer than a packet can carry.
  static bool address_length(const std::string &p, size_t &at, uint32_t &address,
                             uint32_t &length) {
    size_t begin = at;
    address = number(p, at);
    if (at == begin || at >= p.size() || p[at] != ',') return false;
    begin = ++at;
    length = number(p, at);
    return at != begin && length <= 0x10000;
  }

  outcome stop_reason(const std::string &) { return {"T05thread:1;"}; }

  outcome query(const std::string &p) {
    if (p.rfind("qSupported", 0) == 0)
      return {"PacketSize=4000;swbreak+;hwbreak+;qXfer:features:read+;ReverseStep+;"
              "ReverseContinue+"};
    if (p.rfind("qXfer:features:read:target.xml:", 0) == 0) return {target_description(p, 31)};
    if (p == "qAttached") return {"1"};
    if (p == "qC") return {"QC1"};
    if (p == "qfThreadInfo") return {"m1"};
    if (p == "qsThreadInfo") return {"l"};
    return {};
  }

  outcome read_registers(const std::string &) {
    std::string reply;
    for (int n = 0; n < register_count; ++n) reply += read_register(n);
    return {reply};
  }

  outcome write_registers(const std::string &p) {
    std::string reply = "OK";
    size_t at = 1;
    for (int n = 0; n < register_count && at < p.size(); ++n) {
      if (!write_register(n, p, at)) reply = "E01";
      at += n >= 16 && n < 24 ? 20 : 8;
    }
    return {reply};
  }

  outcome read_one_register(const std::string &p) {
    size_t at = 1;
    uint32_t n = number(p, at);
    return {n < register_count && at == p.size() ? read_register(int(n)) : "E01"};
  }

  outcome write_one_register(const std::string &p) {
    size_t at = 1;
    uint32_t n = number(p, at);
    bool ok =
        n < register_count && at < p.size() && p[at] == '=' && write_register(int(n), p, at + 1);
    return {ok ? "OK" : "E01"};
  }

  outcome read_memory(const std::string &p) {
    size_t at = 1;
    uint32_t address, length;
    std::string bytes;
    if (!address_length(p, at, address, length)) return {"E01"};
    bytes.resize(length);
    return {link.memory.read(address, bytes.data(), length, 0) ? hex_bytes(bytes.data(), length)
                                                               : "E14"};
  }

  outcome write_memory(const std::string &p) {
    size_t at = 1;
    uint32_t address, length;
    if (!address_length(p, at, address, length) || at >= p.size() || p[at] != ':') return {"E01"};
    std::string bytes(length, '\0');
    if (!unhex(p, at + 1, length, reinterpret_cast<uint8_t *>(bytes.data())) ||
        !link.memory.accessible(address, length, 0))
      return {"E14"};
    // Through the emulator, and the code it translated from there goes.
    if (uc_mem_write(link.uc, address, bytes.data(), length) != UC_ERR_OK) return {"E14"};
    uc_ctl_remove_cache(link.uc, address, uint64_t(address) + length);
    return {"OK"};
  }

  outcome point(const std::string &p) {
    char type = p.size() > 1 ? p[1] : 0;
    size_t at = 3;
    uint32_t address, length;
    if (p.size() < 3 || p[2] != ',' || !address_length(p, at, address, length)) return {"E01"};
    if (set_point(type, address, length, p[0] == 'Z')) return {"OK"};
    return {type == '0' || type == '1' || type == '2' ? "E01" : ""};
  }

  outcome go(const std::string &p) {
    size_t at = 1;
    if (at < p.size()) {
      uint32_t address = number(p, at);
      uc_reg_write(link.uc, UC_X86_REG_EIP, &address);
    }
    return {resume(p[0] == 's')};
  }

  outcome verbose(const std::string &p) {
    if (p == "vCont?") return {"vCont;c;C;s;S"};
    if (p.rfind("vCont;c", 0) == 0 || p.rfind("vCont;C", 0) == 0) return {resume(false)};
    if (p.rfind("vCont;s", 0) == 0 || p.rfind("vCont;S", 0) == 0) return {resume(true)};
    if (p.rfind("vKill", 0) == 0) return killed = true, outcome{"OK", true};
    return {};
  }

  // bs and bc: backwards, to the instruction before, or to the last stop.
  outcome backwards(const std::string &p) {
    if (p != "bs" && p != "bc") return {};
    if (!link.reverse) return {"E01"};
    stop_points points;
    for (const auto &[address, h] : breakpoints) points.breakpoints.push_back(address);
    for (const auto &[key, h] : watchpoints) points.watches.push_back(key);
    interrupted = false;
    guest_stop stop = listening([&] { return link.reverse(p == "bs", points); });
    char reply[64];
    if (interrupted) return {"T02thread:1;"}; // a Ctrl-C stopped it on the way
    if (stop.kind == guest_stop::unsupported)
      return {"E.going backwards needs a replay (--replay) once a run has several processes"};
    if (stop.kind == guest_stop::history_begin)
      std::snprintf(reply, sizeof reply, "T%02xreplaylog:begin;thread:1;", sigtrap);
    else if (stop.watched)
      std::snprintf(reply, sizeof reply, "T%02xwatch:%x;thread:1;", sigtrap, *stop.watched);
    else
      std::snprintf(reply, sizeof reply, "T%02xthread:1;", sigtrap);
    return {reply};
  }

  outcome detach(const std::string &) { return detached = true, outcome{"OK", true}; }
  outcome kill(const std::string &) { return killed = true, outcome{"", true}; }
  outcome any_thread(const std::string &) { return {"OK"}; }

  static constexpr std::pair<char, handler> handlers[] = {{'?', &stub::stop_reason},
                                                          {'q', &stub::query},
                                                          {'H', &stub::any_thread},
                                                          {'g', &stub::read_registers},
                                                          {'G', &stub::write_registers},
                                                          {'p', &stub::read_one_register},
                                                          {'P', &stub::write_one_register},
                                                          {'m', &stub::read_memory},
                                                          {'M', &stub::write_memory},
                                                          {'Z', &stub::point},
                                                          {'z', &stub::point},
                                                          {'v', &stub::verbose},
                                                          {'c', &stub::go},
                                                          {'s', &stub::go},
                                                          {'b', &stub::backwards},
                                                          {'D', &stub::detach},
                                                          {'k', &stub::kill}};

  // Answers one packet; an unknown one gets the empty reply.
  outcome answer(const std::string &p) {
    for (auto [first, h] : handlers)
      if (!p.empty() && p[0] == first) {
        outcome o = (this->*h)(p);
        // After a fault gdb still reads the state; after an exit there is none.
        o.ends |= !o.reply.empty() && o.reply[0] == 'W';
        return o;
      }
    return {};
  }
};

} // namespace

std::vector<std::string> answer_packets(gdb_link &link, const std::vector<std::string> &packets) {
  stub s{link};
  std::vector<std::string> replies;
  for (const std::string &p : packets) {
    stub::outcome o = s.answer(p);
    replies.push_back(o.reply);
    if (o.ends) break;
  }
  return replies;
}

std::string serve_gdb(gdb_link &link, uint16_t port) {
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0) return std::string("gdb: socket: ") + std::strerror(errno);
  int one = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
      listen(listener, 1) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
    std::string err =
        std::string("gdb: port ") + std::to_string(port) + ": " + std::strerror(errno);
    close(listener);
    return err;
  }
  std::fprintf(stderr, "kivos-run: waiting for gdb on localhost:%u\n",
               unsigned(ntohs(addr.sin_port)));
  std::fflush(stderr);
  int fd;
  do fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  close(listener);
  if (fd < 0) return std::string("gdb: accept: ") + std::strerror(errno);
  // Small packets go at once: a step or a memory read is one round trip.
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  stub s{link};
  s.fd = fd;
  bool program_ended = false;
  while (auto packet = s.receive()) {
    stub::outcome o = s.answer(*packet);
    program_ended = !o.reply.empty() && o.reply[0] == 'W';
    bool quiet = (*packet)[0] == 'k'; // the one packet gdb expects no reply to
    if ((!quiet && !s.send(o.reply)) || o.ends) break;
  }
  close(fd);
  // A program gdb let go of runs on to its end.
  if (s.killed) return "killed from gdb";
  // A program whose gdb went away without letting it go ends with it.
  if (!program_ended && !s.detached) return "gdb went away";
  return {}; // detached: the caller runs the program on
}

} // namespace kivos
