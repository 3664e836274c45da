// SPDX-License-Identifier: GPL-3.0-or-later
// Preloaded into a process (LD_PRELOAD) to make its disk look full without root or a small file
// system: a write to a regular file that would make the file grow fails with ENOSPC once
// DN_FULL_DISK_AFTER bytes of growth have been written (0: at once); a write within a file's
// present size needs no new blocks and succeeds, as on a real full disk. DN_FULL_DISK_SYNC=1
// makes fsync and fdatasync fail with ENOSPC instead (a delayed allocation that fails).
// Without either variable it changes nothing.
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
long long Budget()
{
    static std::atomic<long long> budget{[] {
        const char *after = std::getenv("DN_FULL_DISK_AFTER");
        return after ? std::atoll(after) : -1;
    }()};
    return budget.load();
}

std::atomic<long long> gWritten{0};

// How many of count bytes at offset may be written: all, fewer (a short write) or none (-1,
// errno ENOSPC).
ssize_t Allowed(int fd, size_t count, off_t offset)
{
    const long long budget = Budget();
    struct stat st;
    if (budget < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return ssize_t(count);
    const long long growth = (long long)offset + (long long)count - (long long)st.st_size;
    if (growth <= 0)
        return ssize_t(count);
    const long long left = budget - gWritten.load();
    if (left <= 0) {
        errno = ENOSPC;
        return -1;
    }
    const long long allowed = growth <= left ? (long long)count : (long long)count - (growth - left);
    if (allowed <= 0) {
        errno = ENOSPC;
        return -1;
    }
    gWritten += allowed - std::max<long long>(0, st.st_size - offset);
    return ssize_t(allowed);
}

bool SyncFails()
{
    const char *sync = std::getenv("DN_FULL_DISK_SYNC");
    return sync && *sync == '1';
}
} // namespace

extern "C" {
ssize_t write(int fd, const void *buffer, size_t count)
{
    const off_t position = ::lseek(fd, 0, SEEK_CUR);
    const ssize_t allowed = position < 0 ? ssize_t(count) : Allowed(fd, count, position);
    if (allowed < 0)
        return -1;
    return ::syscall(SYS_write, fd, buffer, size_t(allowed));
}

ssize_t pwrite(int fd, const void *buffer, size_t count, off_t offset)
{
    const ssize_t allowed = Allowed(fd, count, offset);
    if (allowed < 0)
        return -1;
    return ::syscall(SYS_pwrite64, fd, buffer, size_t(allowed), offset);
}

ssize_t pwrite64(int fd, const void *buffer, size_t count, off_t offset)
{
    return pwrite(fd, buffer, count, offset);
}

int fsync(int fd)
{
    if (SyncFails()) {
        errno = ENOSPC;
        return -1;
    }
    return int(::syscall(SYS_fsync, fd));
}

int fdatasync(int fd)
{
    if (SyncFails()) {
        errno = ENOSPC;
        return -1;
    }
    return int(::syscall(SYS_fdatasync, fd));
}
}
