// SPDX-License-Identifier: MIT
#include "WriteFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace files {
namespace {

using Temporary = std::function<void(const std::string&)>;

std::string cannotWrite(const std::string& path, int err) {
    return "cannot write " + path + ": " + std::strerror(err ? err : EIO);
}

bool writeAll(int fd, const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// The mode a new file gets from open(..., 0666).
mode_t newFileMode() {
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

bool replaceFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error,
                 const Temporary& temporary, const struct stat* old = nullptr) {
    std::string temp = path + ".XXXXXX";
    int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        int err = errno;
        // The file itself may well take writes: say what refused.
        error = cannotWrite(path, err);
        if (old && err == EACCES) error += " (its folder lets no new file be made to replace it)";
        return false;
    }
    if (temporary) temporary(temp);
    if (old) {
        if (fchown(fd, old->st_uid, old->st_gid) != 0 && fchown(fd, static_cast<uid_t>(-1), old->st_gid) != 0) {
            // Not ours to give away: the caller's, as any editor leaves it.
        }
        fchmod(fd, old->st_mode & 07777);
    } else {
        fchmod(fd, newFileMode());
    }
    int err = writeAll(fd, bytes) && fsync(fd) == 0 ? 0 : errno;
    if (close(fd) != 0 && !err) err = errno;
    if (!err && rename(temp.c_str(), path.c_str()) != 0) err = errno;
    if (err) {
        unlink(temp.c_str());
        error = cannotWrite(path, err);
    }
    if (temporary) temporary({});
    return !err;
}

// Anything else that takes data (a device, a FIFO) is written into, as cp does.
bool writeInto(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error) {
    int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = cannotWrite(path, errno);
        return false;
    }
    int err = writeAll(fd, bytes) ? 0 : errno;
    if (close(fd) != 0 && !err) err = errno;
    if (err) error = cannotWrite(path, err);
    return !err;
}

// What a link names, as a path (relative targets from the link's folder).
std::string linkTarget(const std::string& link) {
    std::vector<char> buf(4096);
    ssize_t n = readlink(link.c_str(), buf.data(), buf.size() - 1);
    if (n <= 0) return {};
    std::string target(buf.data(), static_cast<size_t>(n));
    if (target[0] == '/') return target;
    size_t slash = link.rfind('/');
    return slash == std::string::npos ? target : link.substr(0, slash + 1) + target;
}

bool writeAt(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error,
             const Temporary& temporary, int links) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            error = cannotWrite(path, errno);
            return false;
        }
        return replaceFile(path, bytes, error, temporary);
    }
    if (S_ISLNK(st.st_mode)) {
        // The link stays; what it names is written (made, where it names
        // nothing, as a new file would be).
        std::string target = linkTarget(path);
        if (target.empty() || links >= 40) {
            error = cannotWrite(path, target.empty() ? errno : ELOOP);
            return false;
        }
        return writeAt(target, bytes, error, temporary, links + 1);
    }
    if (S_ISDIR(st.st_mode)) {
        error = cannotWrite(path, EISDIR);
        return false;
    }
    if (!S_ISREG(st.st_mode)) return writeInto(path, bytes, error);
    // A file its owner made read-only is not replaced behind their back, as
    // cp would not write it (root may, as with cp).
    if (access(path.c_str(), W_OK) != 0) {
        error = cannotWrite(path, errno);
        return false;
    }
    return replaceFile(path, bytes, error, temporary, &st);
}

}  // namespace

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error,
               const Temporary& temporary) {
    return writeAt(path, bytes, error, temporary, 0);
}

}  // namespace files
