// SPDX-License-Identifier: GPL-3.0-or-later
// The settings key the program entry sets before anything else; the windows under test read and
// write their settings there, in the test process's own temporary registry file.

#include "settings/RegSpecial.h"

#include <gtest/gtest.h>

namespace {
class TProgramKeyEnvironment : public ::testing::Environment {
public:
    void SetUp() override { RegProgramKey = DirNoteRegKey; }
};

[[maybe_unused]] ::testing::Environment *const ProgramKey = ::testing::AddGlobalTestEnvironment(
    new TProgramKeyEnvironment);
} // namespace
