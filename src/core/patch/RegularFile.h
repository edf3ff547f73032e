#pragma once
// Reading a whole file that a user named, without ever waiting on it. Only a
// regular file is read: a named pipe, a terminal or another device is refused
// before a byte is read, and opening it cannot block (a pipe with no writer
// would hold the caller in open() for as long as none comes). Shared by the
// patch loader and the MIDI file reader. Any thread but the audio thread
// (file I/O); no toolkit.

#include <cstddef>
#include <string>
#include <vector>

// Reads at most `limit` bytes of the regular file `path` into `data`. Returns
// the empty string, or why the file was not read, in a few words:
//   "it cannot be read (No such file or directory)"
//   "it cannot be read (Is a directory)"
//   "it is a named pipe, not a regular file"
// A caller that wants to know whether a file is longer than it accepts asks
// for one byte more than that.
std::string ReadRegularFile(const std::string& path, size_t limit, std::vector<char>& data);
