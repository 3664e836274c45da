// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include "common/MessageDlg.h"

#include <vector>

namespace TestSupport {

// A private folder for one test, removed afterwards. Paths are bytes, as the program keeps them.
class TTempDir {
public:
    TTempDir();
    QByteArray Path() const;                           // without trailing "/"
    QByteArray FilePath(const QByteArray &name) const; // Path() + "/" + name
    QByteArray MakeDir(const QByteArray &relative) const;
    QByteArray WriteFile(const QByteArray &relative, const QByteArray &bytes) const;

private:
    QTemporaryDir FDir;
};

// Whole-file helpers. A file that cannot be read or written throws with its path, which fails
// the test: a missing file never reads as empty bytes.
QByteArray ReadFileBytes(const QByteArray &path);
void WriteFileBytes(const QByteArray &path, const QByteArray &bytes);

// The checkout's own folder (without trailing "/").
QByteArray SourceDir();
// The folder with the test data made by other tools (tests/data, kept in the repository).
QByteArray FixturesDir();
// FixturesDir() + "/" + relative, or a throw naming the path when no such file is there, so a
// missing fixture fails the test instead of being read as "nothing to read".
QByteArray FixturePath(const QByteArray &relative);
// The built program (build/dirnote).
QByteArray ProgramPath();
// A file the build made, by its path inside the build folder ("dnt", "tests/dn_regwriter"): the
// build's folder is known to this file alone, so that the other test files of another clone
// are served by the compiler cache.
QByteArray BuiltPath(const char *relative);
QString BuiltProgram(const char *relative);

// Message boxes in tests are answered by this log instead of a person: each request is recorded
// and answered with the next queued answer, else with the box's default button.
struct TMessageLog {
    std::vector<TMessageDlgRequest> Requests;
    std::vector<TModalResult> Answers;
};
TMessageLog &MessageLog();
void InstallMessageLog();

} // namespace TestSupport
