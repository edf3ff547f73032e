#include "ReplaceFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace {

// The folder part of a name ("." for none) and the last part.
std::pair<std::string, std::string> SplitName(const std::string& name)
{
    const size_t slash = name.rfind('/');
    if (slash == std::string::npos)
        return {".", name};
    return {slash == 0 ? "/" : name.substr(0, slash), name.substr(slash + 1)};
}

std::string RealPath(const std::string& name)
{
    std::string out;
    if (char* real = realpath(name.c_str(), nullptr)) {
        out = real;
        std::free(real);
    }
    return out;
}

} // namespace

std::string ReplaceTarget(const std::string& name, int& err)
{
    err = 0;
    // Replace what a link points to, not the link: follow the links one by
    // one, as the kernel would, to a file that is there or a name that is
    // not.
    std::string path = name;
    for (int links = 0;; ++links) {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) {
            if (errno != ENOENT) {
                err = errno;
                return {};
            }
            break;
        }
        if (!S_ISLNK(st.st_mode)) {
            std::string real = RealPath(path);
            if (real.empty())
                err = errno;
            return real;
        }
        if (links == 40) {
            err = ELOOP;
            return {};
        }
        const auto [folder, last] = SplitName(path);
        struct stat in;
        if (stat(folder.c_str(), &in) == 0 && (in.st_mode & S_ISVTX) && (in.st_mode & S_IWOTH) &&
            st.st_uid != in.st_uid && st.st_uid != geteuid()) {
            err = EACCES;
            return {};
        }
        std::vector<char> text(static_cast<size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
        const ssize_t n = readlink(path.c_str(), text.data(), text.size());
        if (n < 0 || static_cast<size_t>(n) >= text.size()) {
            err = n < 0 ? errno : ENAMETOOLONG;
            return {};
        }
        const std::string to(text.data(), static_cast<size_t>(n));
        path = to.front() == '/' ? to : folder + "/" + to;
    }
    const auto [folder, last] = SplitName(path);
    if (last.empty() || last == "." || last == "..") {
        err = EISDIR;
        return {};
    }
    const std::string real = RealPath(folder);
    struct stat st;
    if (real.empty() || stat(real.c_str(), &st) != 0) {
        err = errno;
        return {};
    }
    if (!S_ISDIR(st.st_mode)) {
        err = ENOTDIR;
        return {};
    }
    return (real == "/" ? "" : real) + "/" + last;
}

ReplaceFile::ReplaceFile(std::string target) : target_(std::move(target))
{
    if (std::string resolved = ReplaceTarget(target_, targetError_); !resolved.empty())
        target_ = std::move(resolved);
}

ReplaceFile::~ReplaceFile()
{
    if (fd_ >= 0)
        close(fd_);
    if (!temp_.empty() && !committed_)
        unlink(temp_.c_str());
}

bool ReplaceFile::Fail(const std::string& what, int err)
{
    error_ = what + " '" + target_ + "': " + std::strerror(err);
    return false;
}

bool ReplaceFile::Open()
{
    if (targetError_ != 0)
        return Fail("cannot write", targetError_);
    const size_t slash = target_.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target_.substr(0, slash + 1);
    // A short name of its own, not one made from the target's: that would be
    // too long for a target whose name is near the longest there can be.
    std::string pattern = folder + ".marovane-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    fd_ = mkostemp(buffer.data(), O_CLOEXEC);
    if (fd_ < 0)
        return Fail("cannot create a temporary file beside", errno);
    temp_ = buffer.data();
    return true;
}

bool ReplaceFile::Write(const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Fail("cannot write", n < 0 ? errno : ENOSPC);
        done += static_cast<size_t>(n);
    }
    return true;
}

bool ReplaceFile::Commit()
{
    if (fd_ < 0)
        return Fail("cannot write", EBADF);
    mode_t mode;
    struct stat old;
    if (stat(target_.c_str(), &old) == 0) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    if (fchmod(fd_, mode) != 0)
        return Fail("cannot set the permissions of", errno);
    // The data must be on the disk before the name points at it: a crash
    // after the rename would otherwise leave an empty file.
    if (fsync(fd_) != 0)
        return Fail("cannot write", errno);
    const int fd = std::exchange(fd_, -1);
    if (close(fd) != 0)
        return Fail("cannot write", errno);
    if (rename(temp_.c_str(), target_.c_str()) != 0)
        return Fail("cannot replace", errno);
    committed_ = true;
    return true;
}

std::string ReplaceFileContents(const std::string& target, const std::string& bytes)
{
    ReplaceFile file(target);
    if (file.Open() && file.Write(bytes) && file.Commit())
        return {};
    return file.Error();
}
