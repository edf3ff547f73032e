#include "RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

std::string CannotRead(int err) { return std::string("it cannot be read (") + std::strerror(err) + ")"; }

// What a file that is not a regular one is, for the user.
const char* Kind(mode_t mode)
{
    if (S_ISFIFO(mode))
        return "a named pipe";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    if (S_ISSOCK(mode))
        return "a socket";
    return "a special file";
}

struct Descriptor {
    int fd;
    ~Descriptor()
    {
        if (fd >= 0)
            close(fd);
    }
};

} // namespace

std::string ReadRegularFile(const std::string& path, size_t limit, std::vector<char>& data)
{
    // O_NONBLOCK: opening a pipe or a device returns at once, to be told
    // apart by its descriptor (not by its name, which could be swapped in
    // between). It has no effect on reading a regular file.
    const Descriptor file{open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
    if (file.fd < 0)
        return CannotRead(errno);
    struct stat st;
    if (fstat(file.fd, &st) != 0)
        return CannotRead(errno);
    if (S_ISDIR(st.st_mode))
        return CannotRead(EISDIR);
    if (!S_ISREG(st.st_mode))
        return std::string("it is ") + Kind(st.st_mode) + ", not a regular file";
    data.clear();
    // The size the file has now is a guess (it may grow or shrink while it is
    // read), so the loop reads until the end or the limit, whichever is first.
    data.resize(std::min(limit, static_cast<size_t>(st.st_size > 0 ? st.st_size : 0) + 1));
    size_t size = 0;
    while (size < limit) {
        if (size == data.size())
            data.resize(std::min(limit, data.size() * 2 + 4096));
        const ssize_t n = read(file.fd, data.data() + size, data.size() - size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return CannotRead(errno);
        if (n == 0)
            break;
        size += static_cast<size_t>(n);
    }
    data.resize(size);
    return {};
}
