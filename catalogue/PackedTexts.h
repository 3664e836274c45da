// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

#include <algorithm>
#include <cstring>
#include <string_view>

// Texts of a listing packed into a few large blocks, each text followed by a NUL as a byte
// array's own bytes are: a million names or descriptions cost a few allocations instead of a
// million, and each text's byte array shares its block, which lives while any of them does.
// A block is filled through its own pointer beyond the texts handed out so far: those byte
// arrays see only their own bytes, and a change to one detaches it as to any shared array.
class TPackedTexts {
public:
    TPackedTexts() = default;
    // Two packers filling one block would write over each other's texts.
    TPackedTexts(const TPackedTexts &) = delete;
    TPackedTexts &operator=(const TPackedTexts &) = delete;

    QByteArray Add(std::string_view text)
    {
        const auto size = qsizetype(text.size());
        if (FBlock.isNull() || FBlock.size() - FUsed < size + 1) {
            FBlock = QByteArray(std::max(kBlockSize, size + 1), Qt::Uninitialized);
            FBytes = FBlock.data(); // before it is shared: no copy
            FUsed = 0;
        }
        char *begin = FBytes + FUsed;
        if (size > 0)
            std::memcpy(begin, text.data(), size_t(size));
        begin[size] = '\0';
        FUsed += size + 1;
        return PartOf(FBlock, begin, size);
    }

private:
    // A byte array of `size` bytes at `begin` inside `block`, holding a reference of its own to it.
    static QByteArray PartOf(const QByteArray &block, char *begin, qsizetype size)
    {
        QByteArray part = block; // the reference
        part.data_ptr().setBegin(begin);
        part.data_ptr().size = size;
        return part;
    }

    static constexpr qsizetype kBlockSize = 4 << 20;
    QByteArray FBlock;
    char *FBytes = nullptr;
    qsizetype FUsed = 0;
};
