// What the two parts of speed_bench share.
#pragma once

#include <kivos/run.h>
#include <string>
#include <vector>

// A run of PROGRAM with ARGS, its console kept and its standard input empty.
kivos::run_options quiet_options(const std::string &program, std::vector<std::string> args);

// Prints the cost of one trap in kivos-run against a bare Unicorn hook, over
// `traps` one-byte writes of trap_loop (trap_cost.cpp).
void print_trap_cost(unsigned traps);
