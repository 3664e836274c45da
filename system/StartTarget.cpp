// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/StartTarget.h"

#include "common/PathUtils.h"
#include "system/QorPrevInst.h"

#include <sys/stat.h>

namespace {
bool IsFolder(const QByteArray &path)
{
    struct stat st {};
    return !path.isEmpty() && ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Anything the folder's listing shows as a file: a dangling link is one too.
bool IsFileEntry(const QByteArray &path)
{
    struct stat st {};
    return !path.isEmpty() && ::lstat(path.constData(), &st) == 0 && !IsFolder(path);
}

// The target of an absolute path, or an empty one when the path names nothing to list.
TStartTarget TargetOfPath(const QByteArray &path)
{
    const QByteArray folder = ExtractFilePath(path);
    const QByteArray name = ExtractFileName(path);
    if (AsciiUpper(name) == "FOLDER.DNT" && !folder.isEmpty())
        return {folder, {}};
    if (IsFolder(path))
        return {path, {}};
    if (!name.isEmpty() && !folder.isEmpty() && IsFileEntry(path))
        return {folder, name};
    return {};
}
} // namespace

QByteArrayList PathArguments(const QByteArrayList &arguments)
{
    if (!arguments.isEmpty() && arguments.first() == "--")
        return arguments.mid(1);
    return arguments;
}

bool AsksForHelp(const QByteArrayList &arguments)
{
    return !arguments.isEmpty() && (arguments.first() == "--help" || arguments.first() == "-h");
}

QByteArray ProgramHelpText()
{
    return "Usage: dirnote [--] [FOLDER | FILE | PATH/Folder.dnt]\n"
           "Describe the files and subfolders of a folder.\n"
           "\n"
           "  FOLDER            lists that folder\n"
           "  FILE              lists the folder that holds the file, with the cursor on its row\n"
           "  PATH/Folder.dnt   lists the folder that holds the description file\n"
           "  (nothing)         lists the current directory, as does a path that names nothing\n"
           "  --                ends the options: a name that begins with \"-\" may follow\n"
           "  -h, --help        prints this text\n"
           "\n"
           "A second start hands its path to the running window, which lists it the same way\n"
           "and comes to the front; the second process ends with exit code 0.\n";
}

TStartTarget StartTarget(const QByteArrayList &arguments, const QByteArray &currentDir, const QByteArray &programPath)
{
    if (!arguments.isEmpty()) {
        // Absolute from here on: the title, the parent and a later hand-off need the whole path.
        if (TStartTarget target = TargetOfPath(AbsolutePath(arguments.first(), currentDir)); !target.Folder.isEmpty())
            return target;
    }
    if (!currentDir.isEmpty())
        return {currentDir, {}};
    return {ExtractFilePath(programPath), {}};
}

TStartTarget HandedOverTarget(const QByteArray &text)
{
    if (TStartTarget target = TargetOfPath(text); !target.Folder.isEmpty())
        return target;
    return {ExtractFilePath(text), {}};
}
