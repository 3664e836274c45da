// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <functional>

struct TFolderCatalogue;
struct TImportReport;
class QWidget;

// Where the answers are kept: one value per folder under the program's key.
QString ImportOfferRegKey();

// When the listed folder has a descript.ion and none of its entries has a description yet, asks
// once "Import the N descriptions of descript.ion?" (N: the entries it would describe) and
// imports them on Yes. The answer is remembered per folder in the per-user registry store, so
// the folder never asks again. What the import refused is said after it, with the reasons; a
// descript.ion of which nothing can be imported (no line names an entry, with the encoding
// tried; or every matching text refused) is said once instead of the question, and the folder is
// asked only when that changes. True when descriptions were imported and the folder is to be
// listed again. Raises TException when the import failed. A question that `stillAsked` finds
// overtaken once it is closed (the window went on to another folder meanwhile: a hand-off closed
// it) got no answer: nothing is imported or remembered, and the next listing asks again.
// `imported` is told what the import wrote, right after it.
bool OfferDescriptIonImport(const TFolderCatalogue &catalogue, QWidget *parent,
                            const std::function<bool()> &stillAsked = {},
                            const std::function<void(const TImportReport &)> &imported = {});
