// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "TestSupport.h"

#include <QDir>
#include <QFile>

#include "common/Exceptions.h"
#include "settings/RegSpecial.h"

#include <gtest/gtest.h>

#include <functional>

// Every test gets its own configuration folder (not yet created), so the registry file
// starts missing and no test sees another's values.
class TRegTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FOldConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", ConfigDir());
    }
    void TearDown() override { qputenv("XDG_CONFIG_HOME", FOldConfig); }

    QByteArray ConfigDir() const { return Dir.FilePath("config"); }
    QByteArray RegFolder() const { return ConfigDir() + "/KER-MOSS"; }
    QByteArray RegFile() const { return RegFolder() + "/HKEY_CURRENT_USER.reg"; }
    QByteArray FileText() const { return TestSupport::ReadFileBytes(RegFile()); }

    // A file as a user would leave it, with `body` under the program's key.
    void Seed(const QByteArray &body) const
    {
        QDir().mkpath(QFile::decodeName(RegFolder()));
        TestSupport::WriteFileBytes(RegFile(), "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\KER-MOSS\\DirNote]\n" + body);
    }

    static RegValue Read(const QString &name, const RegValue &defaultValue)
    {
        return ReadRegValue(HKEY_CURRENT_USER, DirNoteRegKey, name, defaultValue);
    }
    static bool Write(const QString &name, const RegValue &value)
    {
        return WriteRegValue(HKEY_CURRENT_USER, DirNoteRegKey, name, value);
    }

    static QString ErrorOf(const std::function<void()> &action)
    {
        try {
            action();
        } catch (const TException &error) {
            return error.Message();
        }
        return QStringLiteral("<no error>");
    }

    TestSupport::TTempDir Dir;

private:
    QByteArray FOldConfig;
};
