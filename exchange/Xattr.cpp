// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchange/Xattr.h"

#include <cerrno>

#include <sys/xattr.h>

std::optional<QByteArray> ReadComment(const QByteArray &path, int *error, TLinks links)
{
    if (error)
        *error = 0;
    // The size may change between the two calls; ERANGE asks again.
    const auto get = links == TLinks::Follow ? ::getxattr : ::lgetxattr;
    for (;;) {
        const ssize_t size = get(path.constData(), kCommentAttribute, nullptr, 0);
        if (size < 0) {
            if (error && errno != ENODATA)
                *error = errno;
            return std::nullopt;
        }
        QByteArray value(qsizetype(size), Qt::Uninitialized);
        const ssize_t read = get(path.constData(), kCommentAttribute, value.data(), size_t(size));
        if (read >= 0) {
            value.truncate(qsizetype(read));
            return value;
        }
        if (errno != ERANGE) {
            if (error && errno != ENODATA)
                *error = errno;
            return std::nullopt;
        }
    }
}

int WriteComment(const QByteArray &path, const QByteArray &comment, TLinks links)
{
    const auto set = links == TLinks::Follow ? ::setxattr : ::lsetxattr;
    return set(path.constData(), kCommentAttribute, comment.constData(), size_t(comment.size()), 0) == 0 ? 0 : errno;
}

int RemoveComment(const QByteArray &path, TLinks links)
{
    return (links == TLinks::Follow ? ::removexattr : ::lremovexattr)(path.constData(), kCommentAttribute) == 0 ? 0
                                                                                                                : errno;
}
