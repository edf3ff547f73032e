#pragma once
// Replacing a file without ever leaving half of one: the new contents go to a
// temporary file in the target's own folder (".marovane-" and six random
// characters, a name shorter than any target's can be too long), and only a complete, flushed
// file is renamed over the target, with the old file's permissions (a new
// file gets the usual ones, 0666 less the umask). A failure at any point
// leaves the old file as it was and removes the temporary one. A symbolic
// link is followed, so the link stays and the file it names is replaced, or
// made when it is not there yet (as the shell's '>' does), unless the link
// is another user's in a shared sticky folder such as /tmp (the kernel's rule
// for links there: such a link may point anywhere).
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
    // The temporary file's name once Open() has made it, else empty: for a
    // program's signal handler, to remove it on the way out.
    const std::string& TemporaryName() const { return temp_; }

private:
    bool Fail(const std::string& what, int err);

    std::string target_; // the file that is replaced (a link resolved)
    int targetError_ = 0; // why there is none (ReplaceTarget)
    std::string temp_;
    int fd_ = -1;
    bool committed_ = false;
    std::string error_;
};

// The file that replacing `name` writes: `name` with every symbolic link on
// the way followed, also a last one that names a file not there yet. Empty,
// with `err` set, when there is none: a loop of links (ELOOP), a name too
// long (ENAMETOOLONG), a folder that is missing (ENOENT) or is not a folder
// (ENOTDIR), a name that ends in '/' (EISDIR), or another user's link in a
// sticky folder that everyone may write (EACCES).
std::string ReplaceTarget(const std::string& name, int& err);

// Replaces `target` with `bytes` as above; the empty string on success, else
// what went wrong.
std::string ReplaceFileContents(const std::string& target, const std::string& bytes);
