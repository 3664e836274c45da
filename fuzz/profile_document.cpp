// SPDX-License-Identifier: GPL-3.0-or-later
// Folder.dnt in memory: any bytes as a file, then writes, deletions and section erasures through
// the document's edits, each checked against the bytes before it.

#include "ProfileFuzz.h"

namespace {

class TDocumentBackend : public TProfileBackend {
public:
    explicit TDocumentBackend(QByteArray bytes) : FBytes(std::move(bytes)) {}
    QByteArray Bytes() override { return FBytes; }
    bool Write(const QByteArray &section, const QByteArray &key, const QByteArray &value) override
    {
        // The accessor refuses these before the document sees them.
        if (!ProfileFile::UnsafeEntryReason(section, key, value).isEmpty())
            return false;
        FBytes = TProfileDocument(FBytes).WithString(section, key, value);
        return true;
    }
    void Delete(const QByteArray &section, const QByteArray &key) override
    {
        TProfileDocument doc(FBytes);
        const bool marked = doc.MarkDeleted(section, key);
        Require(marked == doc.HasDeletions(), "a deletion was not counted");
        FBytes = doc.BytesWithoutDeleted();
    }
    void Erase(const QByteArray &section) override { FBytes = TProfileDocument(FBytes).WithoutSection(section); }
    QByteArray Read(const QByteArray &section, const QByteArray &key) override
    {
        const TProfileDocument doc(FBytes);
        const qsizetype line = doc.FindEntry(doc.FindSection(section), key);
        return line < 0 ? QByteArray() : doc.Value(line);
    }
    QByteArray ReadBack(const QByteArray &written) const override { return TrimProfileBlanks(written); }
    void AfterOperation() override
    {
        // Every line's parts lie inside the file and in order, after a UTF-8 byte-order mark
        // (which belongs to no line).
        const TProfileDocument doc(FBytes);
        qsizetype pos = FBytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
        for (const auto &line : doc.Lines()) {
            Require(line.Begin == pos && line.Begin <= line.End && line.End <= line.Next && line.Next <= FBytes.size(),
                    "the lines do not tile the file");
            pos = line.Next;
        }
        Require(pos == FBytes.size(), "the lines do not cover the file");
    }

private:
    QByteArray FBytes;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    TDocumentBackend backend(Bytes(input.ConsumeRandomLengthString(4096)));
    // Every name the file holds can be looked up.
    {
        const TProfileDocument doc(backend.Bytes());
        for (const auto &line : doc.Lines())
            if (line.Kind != TProfileDocument::TLineKind::Other)
                (void)doc.FindEntry(doc.FindSection(doc.LineName(line)), doc.LineName(line));
    }
    ProfileFuzz::Run(input, backend);
    return 0;
}
