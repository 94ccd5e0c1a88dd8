#!/usr/bin/env python3
"""The cost of going backwards under gdb: reverse_bench.py BUILD_DIR [DRIVES]

hdtab lists DRIVES drives (60,000 by default: about 36 million instructions)
under gdb: to its _exit and no further; the same and one reverse-stepi; the
same and a reverse-continue back to main. It prints kivos-run's CPU time for
each (the least of three sessions), and the last two against the first."""
import os
import re
import subprocess
import sys
import time


def session(build, drives, commands):
    """kivos-run's CPU seconds for one gdb session of `commands`."""
    hdtab = os.path.join(build, "kivos", "hdtab")
    run = subprocess.Popen(
        [os.path.join(build, "bin", "kivos-run"), "--gdb", "0", "--drives", str(drives), hdtab],
        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    port = None
    for _ in range(200):
        line = run.stderr.readline()
        found = re.search(r"localhost:(\d+)", line)
        if found:
            port = found.group(1)
            break
        time.sleep(0.01)
    if not port:
        sys.exit("reverse_bench: kivos-run did not listen")
    gdb = ["gdb", "-batch", "-nx", "-ex", f"target remote :{port}", "-ex", "break _exit",
           "-ex", "continue"]
    for c in commands:
        gdb += ["-ex", c]
    gdb += ["-ex", "kill", hdtab + ".elf"]
    said = subprocess.run(gdb, capture_output=True, text=True, timeout=600).stdout
    _, _, use = os.wait4(run.pid, 0)
    return use.ru_utime + use.ru_stime, said


def best(build, drives, commands, check):
    """The least CPU of three sessions (they vary), each checked."""
    times = []
    for _ in range(3):
        cpu, said = session(build, drives, commands)
        if check not in said:
            sys.exit(f"reverse_bench: {commands} did not stop as expected:\n{said}")
        times.append(cpu)
    return min(times)


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    drives = int(sys.argv[2]) if len(sys.argv) > 2 else 60000
    plain = best(build, drives, [], "Breakpoint 1, _exit")
    step = best(build, drives, ["reverse-stepi", "info registers eip"], "eip ")
    back = best(build, drives, ["break main", "reverse-continue"], "Breakpoint 2, main")
    print(f"{'gdb session (hdtab, ' + str(drives) + ' drives)':44} {'CPU s':>8} {'ratio':>7}")
    print(f"{'to _exit':44} {plain:8.3f} {1:7.2f}")
    print(f"{'to _exit, then reverse-stepi':44} {step:8.3f} {step / plain:7.2f}")
    print(f"{'to _exit, then reverse-continue to main':44} {back:8.3f} {back / plain:7.2f}")


if __name__ == "__main__":
    main()
