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
        QByteArray::DataPointer shared = FBlock.data_ptr(); // one more reference
        shared.ptr = begin;
        shared.size = size;
        return QByteArray(std::move(shared));
    }

private:
    static constexpr qsizetype kBlockSize = 4 << 20;
    QByteArray FBlock;
    char *FBytes = nullptr;
    qsizetype FUsed = 0;
};
