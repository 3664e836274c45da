// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/DescriptionFile.h"

#include "common/AtomicFile.h"
#include "common/Exceptions.h"

#include <cerrno>

QByteArray DefaultDescriptionContent()
{
    static const char *const lines[] = {
        ";DO NOT CHANGE MANUALLY!",
        ";This file is a generated file by the \"DirNote\" program (DirNote.exe)!",
        ";DirNote is made by KER-MOSS, who keeps notes on folders and files",
        ";https://dirnote.example.org/",
        ";mail:dirnote@example.org",
        "",
        "[ThisFolder]",
        "Text0=Please test the software in its full contents before putting it in",
        "Text1=here and also make sure that it's virus free, and last but not least",
        "Text2=don't just put the software in here without checking for any older",
        "Text3=or same version on CD's etc..",
        "Text4=Use The Incoming folder for downloads and things you don't wan't to",
        "Text5=descripe, but have in mind that they may be deleted very fast!!!.",
        "Text6=\xA0",
        "Text7=Thanks in advance",
        // Joined on purpose: "\x09A" would be read as one escape.
        ("Text8=\xA0\x09"
         "Administrator"),
        "",
        "[Folders]",
        "",
        "[Files]",
        "",
    };
    QByteArray content;
    for (const char *line : lines)
        content += QByteArray(line) + "\r\n";
    return content;
}

QString FileErrorMessage(int errorCode)
{
    switch (errorCode) {
    case ENOENT:
    case ENOTDIR: return QStringLiteral("File not found");
    case ENAMETOOLONG:
    case EINVAL: return QStringLiteral("Invalid filename");
    case EMFILE:
    case ENFILE: return QStringLiteral("Too many open files");
    case EACCES:
    case EPERM:
    case EROFS: return QStringLiteral("File access denied");
    case ENOSPC:
    case EDQUOT: return QStringLiteral("Disk full");
    default: return QStringLiteral("I/O error %1").arg(errorCode);
    }
}

void CreateDescriptionFile(const QByteArray &path)
{
    if (const int error = CreateFileExclusive(path, DefaultDescriptionContent()))
        throw TException(FileErrorMessage(error));
}
