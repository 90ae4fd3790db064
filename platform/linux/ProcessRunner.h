#pragma once

#include <array>
#include <string>
#include <vector>

namespace bramvell {

// Programs we start may run with our network capabilities, so neither the caller's PATH nor the
// caller's environment has a say in what runs: a name is looked for in these folders only, and the
// child gets this environment and nothing else.
inline constexpr std::array<const char*, 4> kTrustedProgramFolders = {"/usr/sbin", "/usr/bin", "/sbin",
                                                                      "/bin"};
inline constexpr std::array<const char*, 2> kChildEnvironment = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin",
                                                                 "LC_ALL=C"};

// The file that would run for name: a plain name is looked for in kTrustedProgramFolders, an absolute
// path is taken as given; links are followed. Every folder on the way (the links' own folders too)
// must belong to root and be writable by nobody else, and the final file must be a root-owned
// executable regular file that group and others cannot write. Otherwise empty, with problem saying
// which part is refused.
std::string FindTrustedProgram(const std::string& name, std::string* problem = nullptr);

// Runs a program found by FindTrustedProgram to completion (arguments[0] stays the name as given, for
// programs that act on the name they were started under). The child gets kChildEnvironment, only the
// three standard streams, default signal handling, no way to gain privileges at exec, and - when we
// are not root - CAP_NET_ADMIN and CAP_NET_RAW as ambient capabilities if we hold them permitted. The
// text in input is fed to its standard input; its standard output and error are collected into output
// (at most 64 KiB). Returns the exit status, or -1 when the program was refused, could not be started
// or died from a signal (output then says why when it can).
int RunProgram(const std::vector<std::string>& arguments, const std::string& input, std::string* output);

}  // namespace bramvell
