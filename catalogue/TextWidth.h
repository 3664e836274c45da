// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <array>
#include <functional>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

// The advances of the ASCII characters in a font, in 1/64 pixel, as the window measures them: a
// listing estimates the width of each text while its bytes are at hand, so that fitting a column
// to a million rows does not walk them all again.
using TAdvanceTable = std::array<std::int32_t, 128>;

// The sum of the advances of an ASCII text's bytes in 1/64 pixel; -1 for a text with other bytes,
// which only the font's shaping can measure.
inline std::int32_t EstimatedAsciiWidth(const TAdvanceTable &advances, std::string_view text)
{
    // Four running sums: the additions of one text do not wait on each other.
    std::int32_t sum[4] = {};
    unsigned char high = 0;
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    const size_t n = text.size();
    size_t k = 0;
    for (; k + 4 <= n; k += 4) {
        high |= static_cast<unsigned char>(p[k] | p[k + 1] | p[k + 2] | p[k + 3]);
        sum[0] += advances[p[k] & 0x7f];
        sum[1] += advances[p[k + 1] & 0x7f];
        sum[2] += advances[p[k + 2] & 0x7f];
        sum[3] += advances[p[k + 3] & 0x7f];
    }
    for (; k < n; ++k) {
        high |= p[k];
        sum[0] += advances[p[k] & 0x7f];
    }
    return high & 0x80 ? -1 : sum[0] + sum[1] + sum[2] + sum[3];
}

// The rows of one column of a table whose texts could be its widest: the rows of the
// kWidthCandidates widest estimates, widest first (ties: the later row first), and every row whose
// text has no estimate, which the window estimates with its font. Only these are ever shaped.
constexpr std::size_t kWidthCandidates = 257;
struct TWidthCandidates {
    std::vector<std::pair<std::int32_t, std::uint32_t>> Ranked; // estimate in 1/64 pixel, row
    std::vector<std::uint32_t> Unestimated;
};

// Adds an item to a heap that keeps the `keep` largest items seen (the smallest of them on top).
template <typename T> void KeepLargest(std::vector<T> &heap, const T &item, std::size_t keep)
{
    if (heap.size() == keep && !(item > heap.front()))
        return;
    heap.push_back(item);
    std::push_heap(heap.begin(), heap.end(), std::greater<>());
    if (heap.size() > keep) {
        std::pop_heap(heap.begin(), heap.end(), std::greater<>());
        heap.pop_back();
    }
}

// Makes a column's TWidthCandidates from the rows' estimates, given in any order of rows.
class TWidthRanking {
public:
    TWidthRanking() { FCandidates.Ranked.reserve(kWidthCandidates + 1); }
    void Note(std::uint32_t row, std::int32_t estimate)
    {
        if (estimate < 0)
            FCandidates.Unestimated.push_back(row);
        else
            KeepLargest(FCandidates.Ranked, {estimate, row}, kWidthCandidates);
    }
    // Takes in what another ranking of other rows of the column noted.
    void Merge(TWidthRanking &&other)
    {
        for (const auto &[estimate, row] : other.FCandidates.Ranked)
            KeepLargest(FCandidates.Ranked, {estimate, row}, kWidthCandidates);
        FCandidates.Unestimated.insert(FCandidates.Unestimated.end(), other.FCandidates.Unestimated.begin(),
                                       other.FCandidates.Unestimated.end());
        other.FCandidates = {};
    }
    TWidthCandidates Take()
    {
        std::sort(FCandidates.Ranked.begin(), FCandidates.Ranked.end(), std::greater<>());
        if (!std::is_sorted(FCandidates.Unestimated.begin(), FCandidates.Unestimated.end()))
            std::sort(FCandidates.Unestimated.begin(), FCandidates.Unestimated.end());
        return std::move(FCandidates);
    }

private:
    TWidthCandidates FCandidates;
};
