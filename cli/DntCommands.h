// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

#include <vector>

// Exit codes of dnt.
inline constexpr int kExitDone = 0, kExitError = 1, kExitUsage = 2;

// Runs one command line of dnt (the arguments after the program's name, as the system's bytes)
// and returns its exit code. Output goes to standard output, errors (naming their path) to
// standard error.
int RunDnt(const std::vector<QByteArray> &args);
