#pragma once
// Replacing a file without ever leaving half of one: the new contents go to a
// temporary file in the target's own folder (".marovane-" and six random
// characters, a name shorter than any target's can be too long), and only a complete, flushed
// file is renamed over the target, with the old file's permissions (a new
// file gets the usual ones, 0666 less the umask). A failure at any point
// leaves the old file as it was and removes the temporary one. A symbolic
// link is followed, so the link stays and the file it names is replaced.
//
// For regular files only: a pipe or a terminal is written directly by the
// caller. Not for the audio thread (it does file I/O); one object per write.

#include <string>

class ReplaceFile {
public:
    explicit ReplaceFile(std::string target);
    ~ReplaceFile();
    ReplaceFile(const ReplaceFile&) = delete;
    ReplaceFile& operator=(const ReplaceFile&) = delete;

    // Creates the temporary file; false (and Error()) when it cannot.
    bool Open();
    // The temporary file's descriptor, for the caller to write through. It
    // stays owned by this object.
    int Descriptor() const { return fd_; }
    // Writes all of `bytes` to the temporary file.
    bool Write(const std::string& bytes);
    // Flushes the temporary file to the disk, gives it its permissions and
    // renames it over the target. After a failure the target is untouched.
    bool Commit();
    // Why the last step failed, naming the file: one line.
    const std::string& Error() const { return error_; }

private:
    bool Fail(const std::string& what, int err);

    std::string target_; // the file that is replaced (a link resolved)
    std::string temp_;
    int fd_ = -1;
    bool committed_ = false;
    std::string error_;
};

// Replaces `target` with `bytes` as above; the empty string on success, else
// what went wrong.
std::string ReplaceFileContents(const std::string& target, const std::string& bytes);
