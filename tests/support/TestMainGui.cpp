// SPDX-License-Identifier: GPL-3.0-or-later
#include "TestEnvironment.h"
#include "TestSupport.h"

#include "common/ErrorReport.h"

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    const auto userFolders = TestSupport::IsolateUserFolders();
    TApplication app(argc, argv);
    TestSupport::InstallMessageLog();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
