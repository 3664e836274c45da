// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/FoldedName.h"

#include "common/TextCodec.h"

#include <algorithm>

QByteArray FoldNonAsciiName(std::string_view name)
{
    return DecodeText(QByteArray(name.data(), qsizetype(name.size())))
        .normalized(QString::NormalizationForm_D)
        .toCaseFolded()
        .normalized(QString::NormalizationForm_C)
        .toUtf8();
}

QByteArray FoldProfileName(const QByteArray &name)
{
    if (IsAsciiName(ViewOf(name)))
        return name.toLower();
    return FoldNonAsciiName(ViewOf(name));
}

TNameRule::TNameRule(const std::vector<std::string_view> &names, const std::vector<std::string_view> &keys)
{
    // Keys of one fold are chained in file order behind the first.
    FIndex.Reserve(keys.size());
    FNext.assign(keys.size(), -1);
    std::vector<qsizetype> last(keys.size(), -1);
    for (size_t k = 0; k < keys.size(); ++k) {
        bool inserted = false;
        const qsizetype first = FIndex.Insert(FFolded.Key(keys[k]), qsizetype(k), inserted);
        if (!inserted)
            FNext[size_t(last[size_t(first)])] = qsizetype(k);
        last[size_t(first)] = qsizetype(k);
    }
    FGroups.Count = keys.size();
    FGroups.First = [this](std::string_view name) { return FIndex.Find(TLookupKey(name).View()); };
    FGroups.Next = [this](qsizetype k) { return FNext[size_t(k)]; };
    FKeys = keys;
    FGroups.Key = [this](qsizetype k) { return FKeys[size_t(k)]; };
    Apply(names);
}

TNameRule::TNameRule(const std::vector<std::string_view> &names, TKeyGroups groups) : FGroups(std::move(groups))
{
    Apply(names);
}

void TNameRule::Apply(const std::vector<std::string_view> &names)
{
    FClaims.assign(FGroups.Count, 0);
    FKeyOf.assign(names.size(), -1);
    std::vector<qsizetype> groupOf(names.size(), -1);
    std::vector<char> chained(names.size(), 0); // the name's fold has more than one key
    FindOwnKeys(names, groupOf, chained);
    std::vector<char> owned = OwnedKeys(names, groupOf, chained);
    // An entry with a key of its own claims no other key of its fold.
    FOwnedExactly = owned;
    FOwnless.assign(FGroups.Count, 0);
    for (size_t i = 0; i < names.size(); ++i)
        if (groupOf[i] >= 0 && FKeyOf[i] < 0)
            ++FOwnless[size_t(groupOf[i])];
    ShareSpareKeys(names, groupOf, owned);
}

void TNameRule::FindOwnKeys(const std::vector<std::string_view> &names, std::vector<qsizetype> &groupOf,
                            std::vector<char> &chained)
{
    // Each name's fold and the first key spelled exactly like it.
    for (size_t i = 0; i < names.size(); ++i) {
        const qsizetype first = FGroups.First(names[i]);
        if (first < 0)
            continue;
        groupOf[i] = first;
        for (qsizetype k = first; k >= 0; k = FGroups.Next(k)) {
            chained[i] |= char(k != first);
            if (FKeyOf[i] < 0 && FGroups.Key(k) == names[i])
                FKeyOf[i] = k;
        }
    }
}

std::vector<char> TNameRule::OwnedKeys(const std::vector<std::string_view> &names,
                                       const std::vector<qsizetype> &groupOf, const std::vector<char> &chained)
{
    // Every key spelled exactly like a name is its own, duplicates included.
    std::vector<char> owned(FGroups.Count, 0);
    for (size_t i = 0; i < names.size(); ++i) {
        if (groupOf[i] < 0)
            continue;
        ++FClaims[size_t(groupOf[i])];
        if (!chained[i]) {
            if (FKeyOf[i] >= 0)
                owned[size_t(FKeyOf[i])] = 1;
            continue;
        }
        for (qsizetype k = groupOf[i]; k >= 0; k = FGroups.Next(k))
            if (FGroups.Key(k) == names[i])
                owned[size_t(k)] = 1;
    }
    return owned;
}

void TNameRule::ShareSpareKeys(const std::vector<std::string_view> &names, const std::vector<qsizetype> &groupOf,
                               std::vector<char> &owned)
{
    // Entries without a key of their own take the keys of their fold that nobody owns: the only
    // entry of a fold takes the first; several take them one each in the byte order of names.
    std::vector<size_t> sharing;
    for (size_t i = 0; i < names.size(); ++i) {
        const qsizetype first = groupOf[i];
        if (FKeyOf[i] >= 0 || first < 0)
            continue;
        if (FClaims[size_t(first)] == 1)
            FKeyOf[i] = first;
        else
            sharing.push_back(i);
    }
    std::sort(sharing.begin(), sharing.end(), [&](size_t a, size_t b) {
        return groupOf[a] != groupOf[b] ? groupOf[a] < groupOf[b] : names[a] < names[b];
    });
    qsizetype spare = -1;
    for (size_t n = 0; n < sharing.size(); ++n) {
        const size_t i = sharing[n];
        if (n == 0 || groupOf[sharing[n - 1]] != groupOf[i])
            spare = groupOf[i];
        while (spare >= 0 && owned[size_t(spare)])
            spare = FGroups.Next(spare);
        if (spare < 0)
            continue;
        FKeyOf[i] = spare;
        owned[size_t(spare)] = 1;
    }
}

bool TNameRule::Claimed(std::string_view key) const
{
    const qsizetype first = FGroups.First(key);
    if (first < 0)
        return false;
    if (FOwnless[size_t(first)] > 0)
        return true;
    for (qsizetype k = first; k >= 0; k = FGroups.Next(k))
        if (FOwnedExactly[size_t(k)] && FGroups.Key(k) == key)
            return true;
    return false;
}

qsizetype EntryOfKey(const std::vector<std::string_view> &names, std::string_view key)
{
    const TNameRule rule(names, {key});
    for (size_t i = 0; i < names.size(); ++i)
        if (rule.KeyOf(i) == 0)
            return qsizetype(i);
    return -1;
}
