// SPDX-License-Identifier: GPL-3.0-or-later
// Folder.dnt on disk through the accessor the program uses: any bytes as the file (or no file),
// then writes, deletions and section erasures, each checked against the file's bytes before it.
// The folder must hold nothing but the file afterwards: no temporary is left behind.

#include "ProfileFuzz.h"

#include "common/Exceptions.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>

namespace {

QTemporaryDir *Folder = nullptr;

class TFileBackend : public TProfileBackend {
public:
    explicit TFileBackend(const QByteArray &path) : FPath(path), FFile(std::make_unique<ProfileFile>(path)) {}
    QByteArray Bytes() override
    {
        QFile file(QFile::decodeName(FPath));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    bool Write(const QByteArray &section, const QByteArray &key, const QByteArray &value) override
    {
        const bool safe = ProfileFile::UnsafeEntryReason(section, key, value).isEmpty();
        try {
            FFile->WriteString(section, key, value);
        } catch (const TException &) {
            Require(!safe, "a write that the file can hold failed");
            return false;
        }
        Require(safe, "a write the file cannot hold was made");
        return true;
    }
    void Delete(const QByteArray &section, const QByteArray &key) override
    {
        const QByteArray before = Bytes();
        FFile->DeleteKey(section, key);
        Require(Bytes() == before, "a deletion was written before the update");
        // Until the update the accessor already reads past the deleted entry.
        TProfileDocument marked(before);
        marked.MarkDeleted(section, key);
        const qsizetype next = marked.FindEntry(marked.FindSection(section), key);
        Require(Read(section, key) == (next < 0 ? QByteArray() : AsRead(marked.Value(next))),
                "a deleted entry still reads before the update");
        FFile->UpdateFile();
    }
    void Erase(const QByteArray &section) override
    {
        try {
            FFile->EraseSection(section);
        } catch (const TException &) {
            Require(false, "erasing a section failed");
        }
    }
    QByteArray Read(const QByteArray &section, const QByteArray &key) override
    {
        return FFile->ReadString(section, key);
    }
    QByteArray ReadBack(const QByteArray &written) const override { return AsRead(TrimProfileBlanks(written)); }
    void AfterOperation() override
    {
        const QStringList names =
            QDir(Folder->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        Require(names.isEmpty() || names == QStringList{QStringLiteral("Folder.dnt")},
                "the folder holds more than the description file");
        // Now and then a fresh accessor, so a cached view cannot hide what is on disk.
        if (++FOperations % 5 == 0)
            FFile = std::make_unique<ProfileFile>(FPath);
    }

private:
    // A stored value as a read returns it: up to a NUL, without matching quotes, cut to length.
    static QByteArray AsRead(QByteArray value)
    {
        if (const qsizetype nul = value.indexOf('\0'); nul >= 0)
            value.truncate(nul);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        return value.left(ProfileFile::MaxValueLength);
    }

    QByteArray FPath;
    std::unique_ptr<ProfileFile> FFile;
    int FOperations = 0;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Folder = new QTemporaryDir(QDir::tempPath() + QStringLiteral("/dirnote-fuzz-XXXXXX"));
    Require(Folder->isValid(), "no temporary folder");
    std::atexit([] { delete Folder; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const QByteArray path = QFile::encodeName(Folder->path()) + "/Folder.dnt";
    QFile::remove(QFile::decodeName(path));
    const QByteArray initial = Bytes(input.ConsumeRandomLengthString(4096));
    if (input.ConsumeBool()) {
        QFile file(QFile::decodeName(path));
        Require(file.open(QIODevice::WriteOnly) && file.write(initial) == initial.size(), "cannot write the file");
    }
    {
        TFileBackend backend(path);
        ProfileFuzz::Run(input, backend);
    }
    return 0;
}
