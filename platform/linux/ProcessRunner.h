#pragma once

#include <string>
#include <vector>

namespace bramvell {

// Runs a program to completion: arguments[0] is looked up in PATH and then in /usr/sbin and /sbin
// (where iptables lives, often missing from a user's PATH). The text in input is fed to its
// standard input; its standard output and error are collected into output (at most 64 KiB).
// Returns the exit status, or -1 when the program could not be started or died from a signal.
int RunProgram(const std::vector<std::string>& arguments, const std::string& input, std::string* output);

// The full path RunProgram would start for name, or an empty string when there is none.
std::string FindProgram(const std::string& name);

}  // namespace bramvell
