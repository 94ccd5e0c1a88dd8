#include "recording.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

namespace kivos {
namespace {

constexpr char magic[8] = {'K', 'I', 'V', 'O', 'S', 'R', 'E', 'C'};
constexpr uint32_t version = 1;

// Writes a varint at p, answering where it ends: events are put together
// in a buffer on the stack, then appended at once.
char *put_varint(char *p, uint64_t v) {
  while (v >= 0x80) {
    *p++ = char(uint8_t(v) | 0x80);
    v >>= 7;
  }
  *p++ = char(v);
  return p;
}

void put_varint(std::string &out, uint64_t v) {
  char bytes[10];
  out.append(bytes, size_t(put_varint(bytes, v) - bytes));
}
uint64_t zigzag(int64_t v) {
  return (uint64_t(v) << 1) ^ uint64_t(v >> 63);
}
int64_t unzigzag(uint64_t v) {
  return int64_t(v >> 1) ^ -int64_t(v & 1);
}
void put_string(std::string &out, const std::string &s) {
  put_varint(out, s.size());
  out += s;
}

// Reads what put_* wrote; any read past the end marks the reader broken.
struct cursor {
  const std::string &raw;
  size_t &at;
  bool broken = false;
  uint64_t varint() {
    uint64_t v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      if (at >= raw.size()) break;
      uint8_t b = uint8_t(raw[at++]);
      v |= uint64_t(b & 0x7f) << shift;
      if (!(b & 0x80)) return v;
    }
    broken = true;
    return 0;
  }
  std::string string() {
    uint64_t n = varint();
    if (broken || n > raw.size() - at) {
      broken = true;
      return {};
    }
    std::string s = raw.substr(at, n);
    at += n;
    return s;
  }
};

} // namespace

recording_state::process_state *recording_state::of(int32_t pid) {
  if (pid < 0 || pid > (1 << 20)) return nullptr;
  if (size_t(pid) >= by_pid.size()) by_pid.resize(size_t(pid) + 1);
  if (!by_pid[size_t(pid)]) by_pid[size_t(pid)] = std::make_unique<process_state>();
  return by_pid[size_t(pid)].get();
}

uint64_t hash_bytes(const void *data, size_t size, uint64_t seed) {
  const auto *p = static_cast<const uint8_t *>(data);
  for (size_t i = 0; i < size; ++i) seed = (seed ^ p[i]) * 1099511628211ull;
  return seed;
}

std::string recording_writer::open(const std::string &path, const recording_header &header) {
  file = std::fopen(path.c_str(), "wb");
  if (!file) return path + ": " + std::strerror(errno);
  if (deflateInit(&zs, 1) != Z_OK) return "cannot start compressing";
  std::fwrite(magic, 1, sizeof magic, file);
  uint8_t v[4] = {uint8_t(version), uint8_t(version >> 8), uint8_t(version >> 16),
                  uint8_t(version >> 24)};
  std::fwrite(v, 1, 4, file);
  put_string(raw, header.program);
  put_varint(raw, header.image_hash);
  put_varint(raw, header.stack_size);
  put_varint(raw, header.counted);
  put_varint(raw, header.args.size());
  for (const std::string &a : header.args) put_string(raw, a);
  return {};
}

void recording_writer::add(const recorded_event &e) {
  // Arguments are kept as differences from the same call's last ones in the
  // same process, results as differences from the length argument, counts
  // as differences from the last: a program's calls repeat, and a call
  // shrinks to a few bytes before compression.
  recording_state::process_state *state_of = state.of(e.pid);
  if (!state_of) { // a run of more than a million processes
    failed = true;
    return;
  }
  recording_state::process_state &ps = *state_of;
  char buf[96], *p = buf;
  *p++ = char(e.kind);
  p = put_varint(p, uint32_t(e.pid));
  p = put_varint(p, e.instructions - ps.count);
  ps.count = e.instructions;
  if (e.kind == recorded_event::tsc) {
    p = put_varint(p, e.value);
  } else if (e.kind == recorded_event::call) {
    p = put_varint(p, e.number);
    std::array<uint32_t, 3> &last = ps.args[e.number & 0xff];
    const uint32_t args[3] = {e.ebx, e.ecx, e.edx};
    for (int i = 0; i < 3; ++i) {
      p = put_varint(p, zigzag(int32_t(args[i] - last[i])));
      last[i] = args[i];
    }
    p = put_varint(p, zigzag(int64_t(e.result) - int32_t(e.edx)));
    *p++ = char(e.flags);
    if (e.flags & recorded_event::to_file) p = put_varint(p, e.file_hash);
  }
  raw.append(buf, size_t(p - buf));
  if (e.kind == recorded_event::call) {
    if (e.flags & recorded_event::spawned) {
      put_string(raw, e.image);
      put_varint(raw, e.child_args.size());
      for (const std::string &a : e.child_args) put_string(raw, a);
    }
    put_varint(raw, e.writes.size());
    for (const auto &[address, bytes] : e.writes) {
      put_varint(raw, address);
      put_string(raw, bytes);
    }
  }
  if (raw.size() >= (1u << 16)) flush(false);
}

void recording_writer::flush(bool last) {
  zs.next_in = reinterpret_cast<Bytef *>(raw.data());
  zs.avail_in = uInt(raw.size());
  char out[1 << 16];
  do {
    zs.next_out = reinterpret_cast<Bytef *>(out);
    zs.avail_out = sizeof out;
    deflate(&zs, last ? Z_FINISH : Z_NO_FLUSH);
    size_t n = sizeof out - zs.avail_out;
    if (n && std::fwrite(out, 1, n, file) != n) failed = true;
  } while (zs.avail_out == 0 || (last && zs.avail_in));
  raw.clear();
}

std::string recording_writer::finish(const recorded_event &end) {
  if (!file) return "no recording open";
  raw += char(recorded_event::finish);
  put_varint(raw, uint32_t(end.ending));
  put_varint(raw, zigzag(end.exit_status));
  put_varint(raw, zigzag(end.signal));
  put_varint(raw, end.instructions);
  put_string(raw, end.message);
  flush(true);
  deflateEnd(&zs);
  bool closed = std::fclose(std::exchange(file, nullptr)) == 0;
  return failed || !closed ? std::string("cannot write the recording: ") + std::strerror(errno)
                           : "";
}

recording_writer::~recording_writer() {
  if (file) {
    deflateEnd(&zs);
    std::fclose(file);
  }
}

std::string recording_reader::open(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return path + ": " + std::strerror(errno);
  std::ostringstream whole;
  whole << in.rdbuf();
  std::string bytes = whole.str();
  if (bytes.size() < 12 || std::memcmp(bytes.data(), magic, 8) != 0)
    return path + " is not a kivos-run recording";
  uint32_t v = uint32_t(uint8_t(bytes[8])) | uint32_t(uint8_t(bytes[9])) << 8 |
               uint32_t(uint8_t(bytes[10])) << 16 | uint32_t(uint8_t(bytes[11])) << 24;
  if (v != version)
    return path + " is a recording of format " + std::to_string(v) + "; this kivos-run reads " +
           std::to_string(version);
  z_stream zs{};
  inflateInit(&zs);
  zs.next_in = reinterpret_cast<Bytef *>(bytes.data() + 12);
  zs.avail_in = uInt(bytes.size() - 12);
  char out[1 << 16];
  int status = Z_OK;
  while (status == Z_OK) {
    zs.next_out = reinterpret_cast<Bytef *>(out);
    zs.avail_out = sizeof out;
    status = inflate(&zs, Z_NO_FLUSH);
    raw.append(out, sizeof out - zs.avail_out);
    if (status == Z_BUF_ERROR && zs.avail_in == 0) break;
  }
  bool whole_stream = status == Z_STREAM_END && zs.avail_in == 0;
  inflateEnd(&zs);
  if (status == Z_DATA_ERROR || status == Z_NEED_DICT || (status == Z_STREAM_END && !whole_stream))
    return path + " is damaged (its compressed data does not check)";
  if (!whole_stream) return path + " is truncated (it ends before the run does)";
  cursor c{raw, at};
  head.program = c.string();
  head.image_hash = c.varint();
  head.stack_size = uint32_t(c.varint());
  head.counted = c.varint() != 0;
  uint64_t n = c.varint();
  for (uint64_t i = 0; i < n && !c.broken; ++i) head.args.push_back(c.string());
  if (c.broken) return path + " is damaged (its header does not read)";
  first_event = at;
  return {};
}

void recording_reader::rewind() {
  at = first_event;
  state = {};
  peeked.reset();
}

const recorded_event *recording_reader::peek(std::string &error) {
  if (!peeked) {
    recorded_event e;
    if (!next(e, error)) return nullptr;
    peeked = std::move(e);
  }
  return &*peeked;
}

bool recording_reader::next(recorded_event &e, std::string &error) {
  if (peeked) {
    e = std::move(*peeked);
    peeked.reset();
    return true;
  }
  cursor c{raw, at};
  if (at >= raw.size()) {
    error = "the recording ends without its end";
    return false;
  }
  e = {};
  e.kind = recorded_event::kind_t(uint8_t(raw[at++]));
  if (e.kind == recorded_event::finish) {
    e.ending = run_end(c.varint());
    e.exit_status = int32_t(unzigzag(c.varint()));
    e.signal = int32_t(unzigzag(c.varint()));
    e.instructions = c.varint();
    e.message = c.string();
  } else if (e.kind == recorded_event::call || e.kind == recorded_event::tsc) {
    e.pid = int32_t(c.varint());
    recording_state::process_state *ps = state.of(e.pid);
    if (!ps) {
      error = "the recording is damaged (an event of no process)";
      return false;
    }
    e.instructions = ps->count += c.varint();
    if (e.kind == recorded_event::tsc) {
      e.value = c.varint();
    } else {
      e.number = uint32_t(c.varint());
      std::array<uint32_t, 3> &last = ps->args[e.number & 0xff];
      uint32_t *args[3] = {&e.ebx, &e.ecx, &e.edx};
      for (int i = 0; i < 3; ++i) *args[i] = last[i] += uint32_t(unzigzag(c.varint()));
      e.result = int32_t(unzigzag(c.varint()) + int32_t(e.edx));
      e.flags = at < raw.size() ? uint8_t(raw[at++]) : (c.broken = true, 0);
      if (e.flags & recorded_event::to_file) e.file_hash = c.varint();
      if (e.flags & recorded_event::spawned) {
        e.image = c.string();
        uint64_t n = c.varint();
        for (uint64_t i = 0; i < n && !c.broken; ++i) e.child_args.push_back(c.string());
      }
      uint64_t n = c.varint();
      for (uint64_t i = 0; i < n && !c.broken; ++i) {
        uint32_t address = uint32_t(c.varint());
        e.writes.push_back({address, c.string()});
      }
    }
  } else {
    c.broken = true;
  }
  if (c.broken) error = "the recording is damaged (an event does not read)";
  return !c.broken;
}

} // namespace kivos
