#include "catalogue/FolderCatalogue.h"

#include "catalogue/DescriptionFile.h"
#include "catalogue/ProfileFile.h"
#include "common/PathUtils.h"

#include "catalogue/FoldedName.h"

#include <cstring>
#include <future>

#include <dirent.h>
#include <sys/stat.h>

bool IsExistingFolder(const QByteArray &path)
{
    struct stat st;
    return !path.isEmpty() && ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

void ScanFolder(const QByteArray &folder, TFolderCatalogue &catalogue)
{
    catalogue.Folders.clear();
    catalogue.Files.clear();
    DIR *dir = ::opendir(folder.isEmpty() ? "." : folder.constData());
    if (!dir)
        return;
    const int dirFd = ::dirfd(dir);
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        const size_t length = std::strlen(name);
        if (std::memchr(name, '=', length))
            continue;
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat st;
            isFolder = ::fstatat(dirFd, name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        if (isFolder)
            catalogue.Folders.push_back({QByteArray(name, qsizetype(length)), {}});
        else if (!TNameEqual()(std::string_view(name, length), "FOLDER.DNT"))
            catalogue.Files.push_back({QByteArray(name, qsizetype(length)), {}});
    }
    ::closedir(dir);
}

namespace {
void LookUpAndPrune(ProfileFile &profile, const QByteArray &section,
                    std::vector<TCatalogueEntry> &entries)
{
    std::vector<QByteArray> names;
    names.reserve(entries.size());
    for (const TCatalogueEntry &entry : entries)
        names.push_back(entry.Name);
    std::vector<QByteArray> descriptions = profile.ReadStrings(section, names);
    for (size_t i = 0; i < entries.size(); ++i)
        entries[i].Description = std::move(descriptions[i]);
    // The stored keys are few next to a large folder's entries: each entry probes the keys.
    const QList<QByteArray> keys = profile.ReadSection(section);
    if (keys.isEmpty())
        return;
    TFoldedNames folded;
    TNameMap<bool> seen;
    seen.reserve(size_t(keys.size()));
    for (const QByteArray &key : keys)
        seen.try_emplace(folded.Key(ViewOf(key)), false);
    for (const TCatalogueEntry &entry : entries)
        if (const auto it = seen.find(TLookupKey(ViewOf(entry.Name)).View()); it != seen.end())
            it->second = true;
    for (const QByteArray &key : keys)
        if (!seen.at(TLookupKey(ViewOf(key)).View()))
            profile.DeleteKey(section, key);
}
} // namespace

TFolderCatalogue ReadFolderCatalogue(const QByteArray &folder)
{
    TFolderCatalogue catalogue;
    catalogue.Folder = IncludeTrailingPathDelimiter(folder);
    catalogue.DescPath = catalogue.Folder + kDescFileName;
    ProfileFile profile(catalogue.DescPath);
    // The description file is read and indexed on a second core while this one enumerates the
    // folder; nothing else touches the accessor until then.
    std::future<void> prepared = std::async(std::launch::async, [&profile] {
        profile.Prepare({kSectionFolders, kSectionFiles});
    });
    ScanFolder(catalogue.Folder, catalogue);
    prepared.get();
    LookUpAndPrune(profile, kSectionFolders, catalogue.Folders);
    LookUpAndPrune(profile, kSectionFiles, catalogue.Files);
    return catalogue; // releasing the profile writes the deletions
}
