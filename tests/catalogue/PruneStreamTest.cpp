// SPDX-License-Identifier: GPL-3.0-or-later
// The listing's pruning write made by reading the file in pieces: the same bytes as the
// document's deletions, and a memory cost that does not grow with the file.
#include "catalogue/FolderCatalogue.h"
#include "catalogue/ProfileDocument.h"
#include "common/AtomicFile.h"

#include "TestSupport.h"

#include <QDir>

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>

#include <unistd.h>

using namespace TestSupport;

namespace {
struct TStaleKeyOf {
    QByteArray Section, Key;
};

// The bytes the document leaves after deleting the keys in order (exact key first, else its fold).
QByteArray DocumentResult(const QByteArray &bytes, const std::vector<TStaleKeyOf> &keys)
{
    TProfileDocument doc(bytes);
    for (const TStaleKeyOf &k : keys)
        if (!doc.MarkDeletedExact(k.Section, k.Key))
            doc.MarkDeleted(k.Section, k.Key);
    return doc.BytesWithoutDeleted();
}

QByteArray Spliced(const QByteArray &bytes, const std::vector<TFileSplice> &splices)
{
    QByteArray result;
    qsizetype at = 0;
    for (const TFileSplice &s : splices) {
        EXPECT_GE(s.From, at);
        EXPECT_LE(s.From, s.To);
        result.append(bytes.mid(at, s.From - at)).append(s.Insert);
        at = s.To;
    }
    return result.append(bytes.mid(at));
}

// The same deletions found by the scan, the bytes handed in pieces of random sizes.
QByteArray ScanResult(const QByteArray &bytes, const std::vector<TStaleKeyOf> &keys, std::mt19937 &random)
{
    TLineDeletionScan scan;
    for (const TStaleKeyOf &k : keys)
        scan.AddKey(k.Section, k.Key);
    std::uniform_int_distribution<qsizetype> pieceSize(1, 9);
    for (qsizetype at = 0; at < bytes.size();) {
        const qsizetype n = std::min(bytes.size() - at, random() % 4 == 0 ? bytes.size() : pieceSize(random));
        scan.Feed(QByteArrayView(bytes).sliced(at, n));
        at += n;
    }
    return Spliced(bytes, scan.Finish());
}

// Names that fold alike in several spellings (letter case, NFC and NFD, Windows-1252), a key
// with blanks around it, and names that fold like nothing else.
const std::vector<QByteArray> kKeys = {"a",        "A",         "b",    "note.txt", "NOTE.TXT", "\xC3\xA9",
                                       "\xC3\x89", "e\xCC\x81", "\xE9", " a ",      "a\t",      "Zz"};
const std::vector<QByteArray> kSections = {"Files", "files", " FILES ", "Folders", "folders", "Other"};
const std::vector<QByteArray> kValues = {"", "text", "x=y", "=", " spaced ", "a=b=c"};
const std::vector<QByteArray> kEnds = {"\r\n", "\n", "\r"};

template <typename T> const T &Pick(const std::vector<T> &from, std::mt19937 &random)
{
    return from[random() % from.size()];
}

QByteArray RandomFile(std::mt19937 &random)
{
    QByteArray bytes;
    if (random() % 4 == 0)
        bytes += "\xEF\xBB\xBF";
    const int lines = int(random() % 24);
    for (int i = 0; i < lines; ++i) {
        switch (random() % 8) {
        case 0: bytes += '[' + Pick(kSections, random) + ']'; break;
        case 1: bytes += random() % 2 ? QByteArray("; a comment") : QByteArray(); break;
        case 2: bytes += random() % 2 ? QByteArray("no equals sign") : QByteArray("=no key"); break;
        default: bytes += Pick(kKeys, random) + (random() % 3 ? "=" : " = ") + Pick(kValues, random);
        }
        // The last line may have no line end, or end in a lone CR.
        if (i + 1 < lines || random() % 3 != 0)
            bytes += Pick(kEnds, random);
    }
    return bytes;
}

std::vector<TStaleKeyOf> RandomKeys(std::mt19937 &random, const std::vector<QByteArray> &keys)
{
    std::vector<TStaleKeyOf> stale;
    const int count = int(random() % 8);
    for (int i = 0; i < count; ++i)
        stale.push_back({random() % 2 ? "Files" : "Folders", Pick(keys, random)});
    return stale;
}

// Resident memory's high-water mark of this process in KiB, after it was reset to what is
// resident now; -1 where the system does not tell.
long long ResetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
    return 0;
}
long long PeakKiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stoll(line.substr(6));
    return -1;
}
long long ResidentKiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stoll(line.substr(6));
    return -1;
}
} // namespace

// Random files of every line kind and line end, with stale keys in both tables in any spelling:
// the scan, handed the bytes in pieces of any size, deletes exactly the lines the document does.
TEST(PruneStream, DeletesTheSameLinesAsTheDocumentForAnyFile)
{
    std::mt19937 random(20261209);
    for (int round = 0; round < 20000; ++round) {
        const QByteArray bytes = RandomFile(random);
        const std::vector<TStaleKeyOf> keys = RandomKeys(random, kKeys);
        const QByteArray expected = DocumentResult(bytes, keys);
        const QByteArray scanned = ScanResult(bytes, keys, random);
        if (scanned != expected) {
            std::string list;
            for (const TStaleKeyOf &k : keys)
                list += "[" + k.Section.toStdString() + "]" + k.Key.toStdString() + " ";
            FAIL() << "file: " << bytes.toPercentEncoding().toStdString() << "\nkeys: " << list
                   << "\nexpected: " << expected.toPercentEncoding().toStdString()
                   << "\nscanned: " << scanned.toPercentEncoding().toStdString();
        }
    }
}

// The fuzzers' seed files of the description file, with stale keys taken from their own lines.
TEST(PruneStream, DeletesTheSameLinesAsTheDocumentForTheFuzzSeeds)
{
    std::mt19937 random(7);
    int files = 0;
    for (const char *corpus : {"/fuzz/corpus/profile_document", "/fuzz/corpus/profile_file"}) {
        const QDir dir(QString::fromLocal8Bit(SourceDir() + corpus));
        for (const QString &name : dir.entryList(QDir::Files)) {
            const QByteArray bytes = ReadFileBytes(QFile::encodeName(dir.filePath(name)));
            ++files;
            std::vector<QByteArray> names = kKeys;
            const TProfileDocument doc(bytes);
            for (const TProfileDocument::TLine &line : doc.Lines())
                if (line.Kind == TProfileDocument::TLineKind::Entry)
                    names.push_back(doc.LineName(line));
            for (int round = 0; round < 200; ++round) {
                const std::vector<TStaleKeyOf> keys = RandomKeys(random, names);
                ASSERT_EQ(ScanResult(bytes, keys, random), DocumentResult(bytes, keys)) << name.toStdString();
            }
        }
    }
    EXPECT_GT(files, 5);
}

// A cut write leaves the file as the splices say, whether it is replaced by a new file or, with a
// second hard link, rewritten in place (the link then shows the new text too); splices out of
// order change nothing.
TEST(PruneStream, ACutWriteReplacesOrRewritesInPlace)
{
    for (const bool hardLinked : {false, true}) {
        SCOPED_TRACE(hardLinked);
        TTempDir dir;
        const QByteArray path = dir.WriteFile("Folder.dnt", "[Files]\r\ngone=1\r\nkept=2\r\nalso gone=3\r\n");
        const QByteArray link = dir.FilePath("link.dnt");
        if (hardLinked) {
            ASSERT_EQ(::link(path.constData(), link.constData()), 0);
        }
        QByteArray seen;
        const auto cut = [&](const TContentReader &read) -> std::optional<std::vector<TFileSplice>> {
            seen.clear();
            EXPECT_EQ(read([&](QByteArrayView piece) { seen += piece; }), 0);
            return std::vector<TFileSplice>{{9, 17, {}}, {25, 38, "x=y\r\n"}};
        };
        ASSERT_EQ(CutFileLocked(path, cut), 0);
        EXPECT_EQ(seen, "[Files]\r\ngone=1\r\nkept=2\r\nalso gone=3\r\n");
        EXPECT_EQ(ReadFileBytes(path), "[Files]\r\nkept=2\r\nx=y\r\n");
        if (hardLinked) {
            EXPECT_EQ(ReadFileBytes(link), "[Files]\r\nkept=2\r\nx=y\r\n");
        }
        const auto overlapping = [](const TContentReader &) -> std::optional<std::vector<TFileSplice>> {
            return std::vector<TFileSplice>{{5, 10, {}}, {8, 12, {}}};
        };
        EXPECT_EQ(CutFileLocked(path, overlapping), EINVAL);
        EXPECT_EQ(ReadFileBytes(path), "[Files]\r\nkept=2\r\nx=y\r\n");
    }
}

// Pruning a few stale keys of a large description file costs little memory: the file is not
// held whole, let alone twice with an index of its lines.
TEST(PruneStream, PruningALargeFileKeepsMemoryLow)
{
    if (ResidentKiB() < 0 || PeakKiB() < 0)
        GTEST_SKIP() << "the system does not tell this process's resident memory";
    TTempDir dir;
    dir.WriteFile("kept.txt", "x");
    QByteArray bytes = "[Files]\r\n";
    for (int i = 0; i < 200; ++i)
        bytes += "stale" + QByteArray::number(i) + ".txt=an old description\r\n";
    bytes += "kept.txt=still here\r\n[Notes]\r\n";
    const QByteArray line = "a note that the listing neither shows nor prunes, long enough to add up\r\n";
    while (bytes.size() < (64 << 20))
        bytes += line;
    const QByteArray expectedTail = bytes.mid(bytes.indexOf("kept.txt="));
    const QByteArray path = dir.WriteFile("Folder.dnt", bytes);
    bytes = QByteArray();
    ResetPeak();
    const long long before = ResidentKiB();
    const TFolderCatalogue catalogue = ListAndPruneFolder(dir.Path() + '/');
    const long long grown = PeakKiB() - before;
    EXPECT_EQ(catalogue.PrunedFiles.size(), 200u);
    EXPECT_EQ(ReadFileBytes(path), "[Files]\r\n" + expectedTail);
    EXPECT_LT(grown, 16 << 10) << "KiB more at the peak than before the listing";
}
