// Whole-file reads and crash-safe whole-file writes.
#include "files/FilesPrivate.h"

#include <cerrno>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

OSErr ErrnoToOSErr(int e) {
    switch (e) {
    case ENOENT: return fnfErr;
    case ENOTDIR: return dirNFErr;
    case EACCES:
    case EPERM:
    case EROFS: return wrPermErr;
    case ENOSPC:
    case EDQUOT: return dskFulErr;
    case EEXIST: return dupFNErr;
    case ENAMETOOLONG: return bdNamErr;
    default: return ioErr;
    }
}

// Closes the descriptor when it goes out of scope.
struct FileDescriptor {
    int fd = -1;
    ~FileDescriptor() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

OSErr ReadWholeFile(const std::string &path, std::vector<uint8_t> &out, size_t maxSize) {
    out.clear();
    FileDescriptor f{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (f.fd < 0) return errno == ENOENT ? fnfErr : errno == EACCES ? permErr : ioErr;
    struct stat st;
    if (::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode)) return ioErr;
    if (static_cast<uint64_t>(st.st_size) > maxSize) return mapReadErr;
    out.reserve(static_cast<size_t>(st.st_size));
    uint8_t buf[65536];
    for (;;) {
        const ssize_t n = ::read(f.fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return ioErr;
        if (n == 0) break;
        if (out.size() + static_cast<size_t>(n) > maxSize) return mapReadErr;   // grew while reading
        out.insert(out.end(), buf, buf + n);
    }
    return noErr;
}

OSErr WriteFileAtomically(const std::string &path, std::span<const uint8_t> bytes, bool mustNotExist) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temp = dir + "/." + base + ".XXXXXX";

    FileDescriptor f{::mkostemp(temp.data(), O_CLOEXEC)};
    if (f.fd < 0) return ErrnoToOSErr(errno);
    OSErr err = noErr;
    // Keep the permissions of the file being replaced; new files are 0644.
    struct stat old;
    ::fchmod(f.fd, ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644);
    size_t done = 0;
    while (err == noErr && done < bytes.size()) {
        const ssize_t n = ::write(f.fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) err = ErrnoToOSErr(n < 0 ? errno : EIO);
        else done += static_cast<size_t>(n);
    }
    if (err == noErr && ::fsync(f.fd) != 0) err = ErrnoToOSErr(errno);
    if (::close(f.fd) != 0 && err == noErr) err = ErrnoToOSErr(errno);
    f.fd = -1;

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
    ::unlink(temp.c_str());   // no-op after a successful rename
    if (err == noErr) {
        FileDescriptor d{::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
        if (d.fd >= 0) ::fsync(d.fd);   // make the rename itself durable; best effort
    }
    return err;
}
