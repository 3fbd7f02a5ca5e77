// Whole-file reads, crash-safe whole-file writes, and the advisory locks
// that keep read-modify-write cycles of two processes apart.
#include "files/FilesPrivate.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <mutex>
#include <string>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

OSErr ErrnoToOSErr(int e) {
    switch (e) {
        case ENOENT:
            return fnfErr;
        case ENOTDIR:
            return dirNFErr;
        case EACCES:
        case EPERM:
        case EROFS:
            return wrPermErr;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return dskFulErr;
        case EEXIST:
            return dupFNErr;
        case ENAMETOOLONG:
            return bdNamErr;
        default:
            return ioErr;
    }
}

// Closes the descriptor when it goes out of scope.
struct FileDescriptor {
    int fd = -1;
    ~FileDescriptor() {
        if (fd >= 0) ::close(fd);
    }
};

// Fault injection for crash tests: PLATFORM_FILES_FAULT=N stops the process
// with SIGKILL just before the Nth write or rename of a file written here
// (counted from when the variable last changed); N:ENOSPC (or N:EIO) makes
// that step and every later one fail with the error instead, as a full disk
// stays full.
std::mutex gFaultLock;

// True when this step is to fail (errno set); does not return when it is to kill.
bool FaultHere() {
    const char *setting = std::getenv("PLATFORM_FILES_FAULT");
    if (!setting || !*setting) return false;
    static std::string seen;
    static long steps = 0;
    std::lock_guard guard(gFaultLock);
    if (seen != setting) {
        seen = setting;
        steps = 0;
    }
    char *end = nullptr;
    const long at = std::strtol(setting, &end, 10);
    const bool failing = end && *end == ':';
    if (++steps != at && !(failing && steps > at)) return false;
    if (!failing) ::raise(SIGKILL);
    errno = std::strcmp(end + 1, "ENOSPC") == 0 ? ENOSPC : EIO;
    return true;
}

void SplitPath(const std::string &path, std::string &dir, std::string &base) {
    const size_t slash = path.rfind('/');
    dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    base = slash == std::string::npos ? path : path.substr(slash + 1);
}

// mkstemp's six characters.
bool IsTempSuffix(const char *s) {
    for (int i = 0; i < 6; ++i) {
        const char c = s[i];
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
    }
    return s[6] == 0;
}

}  // namespace

OSErr ReadWholeFile(const std::string &path, std::vector<uint8_t> &out, size_t maxSize) {
    out.clear();
    // Without blocking: opening a FIFO for reading would wait for a writer for ever.
    FileDescriptor f{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)};
    if (f.fd < 0) return errno == ENOENT ? fnfErr : errno == EACCES ? permErr : ioErr;
    struct stat st;
    if (::fstat(f.fd, &st) != 0) return ioErr;
    if (!S_ISREG(st.st_mode)) return notAFileErr;
    if (static_cast<uint64_t>(st.st_size) > maxSize) return mapReadErr;
    out.reserve(static_cast<size_t>(st.st_size));
    uint8_t buf[65536];
    for (;;) {
        const ssize_t n = ::read(f.fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return ioErr;
        if (n == 0) break;
        if (out.size() + static_cast<size_t>(n) > maxSize) return mapReadErr;  // grew while reading
        out.insert(out.end(), buf, buf + n);
    }
    return noErr;
}

OSErr WriteFileAtomically(const std::string &path, std::span<const uint8_t> bytes, bool mustNotExist) {
    std::string dir, base;
    SplitPath(path, dir, base);
    std::string temp = dir + "/." + base + ".XXXXXX";

    FileDescriptor f{::mkostemp(temp.data(), O_CLOEXEC)};
    if (f.fd < 0) return ErrnoToOSErr(errno);
    // Held while the temporary exists: a later writer that can take it knows
    // the file was left by a process that died.
    ::flock(f.fd, LOCK_EX | LOCK_NB);
    OSErr err = noErr;
    // Keep the permissions of the file being replaced; new files are 0644.
    struct stat old;
    ::fchmod(f.fd, ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644);
    size_t done = 0;
    while (err == noErr && done < bytes.size()) {
        const ssize_t n = FaultHere() ? -1 : ::write(f.fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            err = ErrnoToOSErr(n < 0 ? errno : EIO);
        else
            done += static_cast<size_t>(n);
    }
    if (err == noErr && ::fsync(f.fd) != 0) err = ErrnoToOSErr(errno);

    if (err == noErr && FaultHere()) err = ErrnoToOSErr(errno);
    if (err == noErr) {
        if (mustNotExist) {
            if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) != 0) {
                if (errno == EINVAL || errno == ENOSYS) {
                    // File systems without no-replace renames: link refuses an existing name too.
                    if (::link(temp.c_str(), path.c_str()) != 0) err = ErrnoToOSErr(errno);
                } else {
                    err = ErrnoToOSErr(errno);
                }
            }
        } else if (::rename(temp.c_str(), path.c_str()) != 0) {
            err = ErrnoToOSErr(errno);
        }
    }
    ::unlink(temp.c_str());  // no-op after a successful rename
    if (::close(f.fd) != 0 && err == noErr) err = ErrnoToOSErr(errno);
    f.fd = -1;
    if (err == noErr) {
        FileDescriptor d{::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
        if (d.fd >= 0) ::fsync(d.fd);  // make the rename itself durable; best effort
    }
    return err;
}

void RemoveStaleTemporaries(const std::string &path) {
    std::string dir, base;
    SplitPath(path, dir, base);
    const std::string prefix = "." + base + ".";
    DIR *d = ::opendir(dir.c_str());
    if (!d) return;
    while (const dirent *e = ::readdir(d)) {
        if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) != 0 || !IsTempSuffix(e->d_name + prefix.size()))
            continue;
        const std::string name = dir + "/" + e->d_name;
        FileDescriptor t{::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY)};
        struct stat opened, now;
        if (t.fd < 0 || ::fstat(t.fd, &opened) != 0 || !S_ISREG(opened.st_mode)) continue;
        // A living writer holds its temporary locked.
        if (::flock(t.fd, LOCK_EX | LOCK_NB) != 0) continue;
        if (::lstat(name.c_str(), &now) == 0 && now.st_ino == opened.st_ino && now.st_dev == opened.st_dev)
            ::unlink(name.c_str());
    }
    ::closedir(d);
}

int LockBeside(const std::string &path, bool exclusive) {
    std::string dir, base;
    SplitPath(path, dir, base);
    const std::string lock = dir + "/." + base + ".lock";
    // Writers make the lock file; readers only use one that exists, so that
    // reading a file in a read-only folder never fails for want of a lock.
    int fd =
        ::open(lock.c_str(), (exclusive ? O_RDWR | O_CREAT : O_RDONLY) | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd < 0 && exclusive) fd = ::open(lock.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    while (::flock(fd, exclusive ? LOCK_EX : LOCK_SH) != 0) {
        if (errno != EINTR) {
            ::close(fd);
            return -1;
        }
    }
    return fd;
}

void Unlock(int lockFd) {
    if (lockFd >= 0) ::close(lockFd);
}
