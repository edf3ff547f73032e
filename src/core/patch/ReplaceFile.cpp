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

ReplaceFile::ReplaceFile(std::string target) : target_(std::move(target))
{
    // Replace what a link points to, not the link.
    if (char* real = realpath(target_.c_str(), nullptr)) {
        target_ = real;
        std::free(real);
    }
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
