// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/FolderCatalogue.h"
#include "catalogue/NameOrder.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <random>

namespace {
// Random names of the kinds folders hold: words in either case, numbers with and without
// leading zeros, blanks and punctuation, letters that some languages pair ("aa", "ch", "ll",
// "ij", "cs", "y", "I" and "i"), and, when asked for, characters beyond ASCII.
QByteArray RandomName(std::mt19937 &random, bool nonAscii)
{
    static const char *const pieces[] = {"a",
                                         "A",
                                         "aa",
                                         "Aa",
                                         "b",
                                         "c",
                                         "ch",
                                         "CH",
                                         "d",
                                         "e",
                                         "i",
                                         "I",
                                         "ij",
                                         "IJ",
                                         "l",
                                         "ll",
                                         "n",
                                         "o",
                                         "s",
                                         "cs",
                                         "t",
                                         "v",
                                         "w",
                                         "x",
                                         "y",
                                         "Y",
                                         "z",
                                         "Z",
                                         "file",
                                         "File",
                                         "report",
                                         " ",
                                         "-",
                                         "_",
                                         ".",
                                         ",",
                                         "(",
                                         ")",
                                         "[",
                                         "]",
                                         "!",
                                         "#",
                                         "$",
                                         "%",
                                         "&",
                                         "'",
                                         "+",
                                         ";",
                                         "@",
                                         "^",
                                         "`",
                                         "{",
                                         "}",
                                         "~",
                                         "0",
                                         "00",
                                         "007",
                                         "1",
                                         "2",
                                         "9",
                                         "10",
                                         "19",
                                         "20",
                                         "099",
                                         "100",
                                         "12345678901234567890",
                                         "0000000000000000000001"};
    static const char *const foreign[] = {"\xC3\xA9", "\xC3\x9F", "\xC3\xBC", "\xC3\x84",  "\xC4\xB1",
                                          "\xC4\xB0", "\xC3\xB8", "\xC3\xA5", "e\xCC\x81", "\xEF\xAC\x81"};
    QByteArray name;
    const int parts = 1 + int(random() % 8);
    for (int i = 0; i < parts; ++i)
        name += nonAscii && random() % 6 == 0 ? foreign[random() % std::size(foreign)]
                                              : pieces[random() % std::size(pieces)];
    return name;
}

int Sign(int value)
{
    return (value > 0) - (value < 0);
}

std::vector<TCatalogueEntry> Entries(const std::vector<QByteArray> &names)
{
    std::vector<TCatalogueEntry> entries;
    for (const QByteArray &name : names)
        entries.push_back({name, {}});
    return entries;
}

struct TDefaultLocale {
    explicit TDefaultLocale(const QLocale &locale) { QLocale::setDefault(locale); }
    ~TDefaultLocale() { QLocale::setDefault(Saved); }
    QLocale Saved;
};

const QLocale kLocales[] = {QLocale::c(), QLocale(QLocale::English, QLocale::UnitedStates),
                            QLocale(QLocale::German, QLocale::Germany), QLocale(QLocale::French, QLocale::France),
                            QLocale(QLocale::Italian, QLocale::Italy), QLocale(QLocale::Dutch, QLocale::Netherlands),
                            QLocale(QLocale::Portuguese, QLocale::Brazil), QLocale(QLocale::Spanish, QLocale::Spain),
                            // Languages with rules of their own for ASCII letters.
                            QLocale(QLocale::Danish, QLocale::Denmark), QLocale(QLocale::Turkish, QLocale::Turkey),
                            QLocale(QLocale::Lithuanian, QLocale::Lithuania),
                            QLocale(QLocale::Czech, QLocale::CzechRepublic),
                            QLocale(QLocale::Hungarian, QLocale::Hungary)};
// Sorts both tables, the files on two threads, and checks that each row sorts before the next
// or ties with it and comes first in byte order, and that every row comes once.
void ExpectCollatorOrder(const std::vector<QByteArray> &names)
{
    const QCollator collator = NameCollator();
    const std::vector<TCatalogueEntry> folders = Entries(names);
    const std::vector<TCatalogueEntry> files = Entries({names.rbegin(), names.rend()});
    TNameOrder order(folders, files);
    order.Work();
    for (int table = 0; table < 2; ++table) {
        const std::vector<TCatalogueEntry> &entries = table == 0 ? folders : files;
        const std::vector<std::uint32_t> rows = order.Order(table, table == 1);
        ASSERT_EQ(rows.size(), entries.size());
        for (size_t r = 1; r < rows.size(); ++r) {
            const QByteArray &a = entries[rows[r - 1]].Name, &b = entries[rows[r]].Name;
            const int c = collator.compare(QString::fromUtf8(a), QString::fromUtf8(b));
            ASSERT_TRUE(c < 0 || (c == 0 && a <= b)) << '"' << a.constData() << "\" before \"" << b.constData() << '"';
        }
        std::vector<std::uint32_t> sorted = rows;
        std::sort(sorted.begin(), sorted.end());
        for (size_t i = 0; i < sorted.size(); ++i)
            ASSERT_EQ(sorted[i], i) << "every row once";
    }
}
} // namespace

TEST(NameOrder, AsciiKeysCompareAsTheCollatorDoes)
{
    std::mt19937 random(7);
    int checked = 0;
    for (const QLocale &locale : kLocales) {
        SCOPED_TRACE(locale.name().toStdString());
        const TDefaultLocale scoped(locale);
        const QCollator collator = NameCollator();
        const std::optional<TAsciiSortKeys> keys = TAsciiSortKeys::For(collator);
        if (!keys)
            continue;
        std::vector<QByteArray> names;
        std::vector<std::string> sortKeys;
        for (int i = 0; i < 3000; ++i) {
            names.push_back(RandomName(random, false));
            ASSERT_TRUE(keys->Takes({names.back().constData(), size_t(names.back().size())}));
            sortKeys.emplace_back();
            keys->AppendKey({names.back().constData(), size_t(names.back().size())}, sortKeys.back());
            // The key words a sort reads are the key's bytes, eight at a time, made from the
            // name's start or resumed where the last word left off.
            const std::string &key = sortKeys.back();
            TAsciiSortKeys::TCursor cursor;
            for (size_t offset = 0; offset <= key.size() + 8; offset += 8) {
                std::uint64_t word = 0;
                for (size_t b = offset; b < offset + 8; ++b)
                    word = word << 8 | (b < key.size() ? static_cast<unsigned char>(key[b]) : 0u);
                const std::string_view name(names.back().constData(), size_t(names.back().size()));
                ASSERT_EQ(keys->KeyWord(name, offset), word) << name << " at " << offset;
                ASSERT_EQ(keys->KeyWord(name, offset, &cursor), word) << name << " resumed at " << offset;
            }
        }
        // Each name against its neighbour, some alike, and against others at random.
        for (size_t i = 0; i < names.size(); ++i) {
            for (const size_t j : {(i + 1) % names.size(), size_t(random() % names.size())}) {
                const int expected = Sign(
                    collator.compare(QString::fromLatin1(names[i]), QString::fromLatin1(names[j])));
                ASSERT_EQ(Sign(sortKeys[i].compare(sortKeys[j])), expected)
                    << '"' << names[i].constData() << "\" vs \"" << names[j].constData() << '"';
                ++checked;
            }
        }
        EXPECT_FALSE(keys->Takes("caf\xC3\xA9")) << "beyond ASCII";
        EXPECT_FALSE(keys->Takes("tab\there")) << "control characters";
    }
    EXPECT_GE(checked, 6000 * 7) << "every language expected to take the fast keys took them";
}

TEST(NameOrder, RowsFollowTheCollatorInEveryLocale)
{
    // Tables of ASCII names only, and with names beyond ASCII (which take the collator's own
    // keys), sorted on one thread and on two: each row sorts before the next or ties with it and
    // comes first in byte order.
    std::mt19937 random(11);
    for (const QLocale &locale : kLocales) {
        SCOPED_TRACE(locale.name().toStdString());
        const TDefaultLocale scoped(locale);
        for (const bool nonAscii : {false, true}) {
            std::vector<QByteArray> names;
            // A third of them share a long beginning, as names of a large folder often do, and a
            // third the first eight key bytes; each group larger than the sort takes whole keys
            // for at once.
            const QByteArray beginnings[] = {"", "Holiday Report - 2026 budget ", "Holidays"};
            for (int i = 0; i < 13000; ++i)
                names.push_back(beginnings[i % 3] + RandomName(random, nonAscii));
            ExpectCollatorOrder(names);
        }
    }
}

TEST(NameOrder, TablesOfEverySizeFollowTheCollator)
{
    // Sizes from none to far beyond any share of work, any run sorted at once and any number of
    // items held at once, each once with every name sharing a long beginning (groups of alike
    // names go on level after level) and once with a fifth of them sharing it (the rest settles
    // early, and the group is left to finish alone); with names beyond ASCII, the collator's own
    // keys are made in shares of the table.
    std::mt19937 random(12);
    const TDefaultLocale scoped(QLocale(QLocale::English, QLocale::UnitedStates));
    for (const size_t size : {0, 1, 2, 511, 513, 4097, 65537, 140000}) {
        for (const size_t alikeEvery : {1, 5}) {
            for (const bool nonAscii : {false, true}) {
                SCOPED_TRACE(testing::Message()
                             << size << " names, one in " << alikeEvery << " alike, beyond ASCII: " << nonAscii);
                std::vector<QByteArray> names;
                for (size_t i = 0; i < size; ++i)
                    names.push_back((i % alikeEvery == 0 ? QByteArray("IMG Holiday Report - 2026 ")
                                                         : QByteArray::number(qulonglong(i)))
                                    + RandomName(random, nonAscii));
                ExpectCollatorOrder(names);
            }
        }
    }
}
