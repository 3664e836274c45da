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
    TPackedTexts(const TPackedTexts &) = delete;
    TPackedTexts &operator=(const TPackedTexts &) = delete;
    ~TPackedTexts() { GiveBackSpare(); }

    QByteArray Add(std::string_view text)
    {
        const auto size = qsizetype(text.size());
        if (FBlock.isNull() || FBlock.size() - FUsed < size + 1) {
            GiveBackSpare();
            FBlock = QByteArray(std::max(kBlockSize, size + 1), Qt::Uninitialized);
            FBytes = FBlock.data(); // before it is shared: no copy
            FUsed = 0;
        }
        if (FSpare == 0) {
            FBlock.data_ptr().d_ptr()->ref_.fetchAndAddOrdered(kSpareReferences);
            FSpare = kSpareReferences;
        }
        char *begin = FBytes + FUsed;
        if (size > 0)
            std::memcpy(begin, text.data(), size_t(size));
        begin[size] = '\0';
        FUsed += size + 1;
        --FSpare; // the new array's reference, taken beforehand
        return QByteArray(QByteArray::DataPointer(FBlock.data_ptr().d_ptr(), begin, size));
    }

private:
    void GiveBackSpare()
    {
        if (FSpare > 0) // the block's own reference keeps it alive meanwhile
            FBlock.data_ptr().d_ptr()->ref_.fetchAndSubOrdered(FSpare);
        FSpare = 0;
    }

    static constexpr qsizetype kBlockSize = 4 << 20;
    // References to the block are taken many at a time and handed to the texts one by one: taking
    // each on its own is a locked instruction, which stalls the look-ups a listing keeps in flight.
    static constexpr int kSpareReferences = 1 << 16;
    int FSpare = 0;
    QByteArray FBlock;
    char *FBytes = nullptr;
    qsizetype FUsed = 0;
};
