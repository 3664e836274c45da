// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// The description file of a folder: its name, its default content and its creation.
inline constexpr char kDescFileName[] = "Folder.dnt";
inline constexpr char kSectionThisFolder[] = "ThisFolder";
inline constexpr char kSectionFolders[] = "Folders";
inline constexpr char kSectionFiles[] = "Files";

// The 21 lines a new description file holds, each ended by CR LF.
QByteArray DefaultDescriptionContent();

// The run-time error text for a failed file operation, by system error code.
QString FileErrorMessage(int errorCode);

// Creates the file with the default content when no file exists at the path. The file appears
// whole or not at all; a failure raises the run-time error (for example "File access denied").
void CreateDescriptionFile(const QByteArray &path);
