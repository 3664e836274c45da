// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>

namespace TestSupport {
// Points HOME and the XDG folders of this test process at a private temporary folder, so no
// test ever reads or writes the real user's files.
inline std::unique_ptr<QTemporaryDir> IsolateUserFolders()
{
    auto root = std::make_unique<QTemporaryDir>();
    const QByteArray base = root->path().toUtf8();
    for (const char *sub : {"config", "data", "runtime", "home", "cache"}) {
        const QByteArray path = base + '/' + sub;
        QDir().mkpath(QString::fromUtf8(path));
        QFile::setPermissions(QString::fromUtf8(path),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    qputenv("XDG_CONFIG_HOME", base + "/config");
    qputenv("XDG_DATA_HOME", base + "/data");
    qputenv("XDG_RUNTIME_DIR", base + "/runtime");
    qputenv("XDG_CACHE_HOME", base + "/cache");
    qputenv("HOME", base + "/home");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return root;
}
} // namespace TestSupport
