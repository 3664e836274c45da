// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/PackedTexts.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <memory>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers' runtime has it; the compiler here ships no header that declares it.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {
// Bytes the process holds from the allocator, the heap's and its own mappings' together.
size_t AllocatedBytes()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // A sanitizer's allocator keeps its own books; the C library's are empty under it.
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = ::mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

std::vector<QByteArray> Packed(TPackedTexts &packer, int count)
{
    std::vector<QByteArray> texts;
    texts.reserve(size_t(count));
    for (int i = 0; i < count; ++i)
        texts.push_back(packer.Add("text " + std::to_string(i)));
    return texts;
}
} // namespace

// A text's reference to its block is counted exactly once, however many texts a block holds:
// the last text of a block left is its only holder (a count too high would keep every block of a
// listing for good, one too low would free a block under texts still shown).
TEST(PackedTextsBlock, TheLastTextLeftHoldsItsBlockAlone)
{
    for (const int count : {1, 2, 1000, 70000, 200000}) {
        SCOPED_TRACE(count);
        std::vector<QByteArray> texts;
        {
            TPackedTexts packer;
            texts = Packed(packer, count);
            EXPECT_FALSE(texts.back().isDetached()); // the packer still holds the block
        }
        // Texts follow one another in the block, each after the previous one's NUL: one
        // allocation for all of them, not one each.
        for (size_t i = 1; i < texts.size(); ++i)
            ASSERT_EQ(texts[i].constData(), texts[i - 1].constData() + texts[i - 1].size() + 1) << i;
        QByteArray last = texts.back();
        EXPECT_FALSE(last.isDetached());
        texts.clear();
        EXPECT_TRUE(last.isDetached());
        EXPECT_EQ(last, QByteArray::fromStdString("text " + std::to_string(count - 1)));
        EXPECT_EQ(last.constData()[last.size()], '\0');
    }
}

// A listing let go of gives its memory back: once every text is gone, so are the blocks.
TEST(PackedTextsBlock, FreeingEveryTextFreesTheBlocks)
{
    const size_t before = AllocatedBytes();
    auto texts = std::make_unique<std::vector<QByteArray>>();
    {
        TPackedTexts packer;
        *texts = Packed(packer, 400000);                         // about 5 MiB of texts: two blocks
        texts->push_back(packer.Add(std::string(5 << 20, 'x'))); // a block of its own
    }
    EXPECT_GT(AllocatedBytes(), before + (8 << 20));
    QByteArray kept = (*texts)[150000]; // in the first block
    texts.reset();
    const size_t withOne = AllocatedBytes();
    EXPECT_GT(withOne, before + (1 << 20)); // the block of the text kept
    EXPECT_LT(withOne, before + (6 << 20));
    kept = QByteArray();
    EXPECT_LT(AllocatedBytes(), before + (64 << 10));
}

// A text changed gets bytes of its own; the block and the other texts stay as they were.
TEST(PackedTextsBlock, AChangedTextLeavesItsNeighboursAlone)
{
    TPackedTexts packer;
    QByteArray first = packer.Add("first");
    QByteArray second = packer.Add("second");
    QByteArray third = packer.Add("third");
    const char *const shared = second.constData();
    second[0] = 'S';
    second.append("!");
    EXPECT_NE(second.constData(), shared);
    EXPECT_TRUE(second.isDetached());
    EXPECT_EQ(second, "Second!");
    EXPECT_EQ(first, "first");
    EXPECT_EQ(QByteArray(shared), "second"); // still the block's bytes, NUL included
    EXPECT_EQ(third, "third");
    EXPECT_EQ(packer.Add("fourth").constData(), third.constData() + third.size() + 1);
}
