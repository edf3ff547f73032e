#pragma once
// A key/value store held as an XML document: the root holds one element per
// key, and the value is the attribute of that element named like the key:
//   <Settings><Attack Attack="250"/></Settings>
// Used on the GUI thread (patch loading and saving) and by the command-line
// tools. Read with expat; texts are UTF-8, paths are bytes as the system
// takes them (a folder name need not be UTF-8). No toolkit.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class SettingsFile {
public:
    // What a file must stay within before it is read. A patch is about 10 KB
    // and two levels deep; these leave room to spare while keeping out files
    // that would take the memory or the time of the program.
    static constexpr size_t kMaxFileBytes = 1024 * 1024;
    static constexpr int kMaxDepth = 64;

    // One entry: an element under the root that carries the attribute named
    // like itself, with that attribute's value (UTF-8).
    struct Entry {
        std::string key;
        std::string value;
    };

    // An empty document whose root is an element "Settings".
    SettingsFile() = default;

    // Loads a file in place of what the document held. On failure the
    // document is empty (its root "Settings", no entries), and `error` (when
    // given) says why in a few words: "it cannot be read (...)", "it is a
    // named pipe, not a regular file" (a pipe or a device is refused before
    // it is read, without waiting on it), "it is larger than 1 MB ...", "its
    // elements are nested deeper than 64 levels ...", "it declares entities
    // ...", "it is not well-formed XML (line n: ...)".
    bool LoadFile(const std::string& path, std::string* error = nullptr);
    // The same checks and parse for a document held in memory.
    bool LoadText(const char* data, size_t size, std::string* error = nullptr);

    // The name of the root element.
    const std::string& RootName() const { return root_; }
    // The root's children that carry the attribute of their own name, in
    // the order of the document; other elements, text and comments are not
    // kept.
    const std::vector<Entry>& Entries() const { return entries_; }

    // The value of the first element named `key` that carries an attribute
    // named `key`, or the empty string.
    std::string GetValue(std::string_view key) const;
    // Whether such an element exists, even with an empty value.
    bool HasValue(std::string_view key) const;

    // Adds an entry at the end of the root: an element named `key` carrying
    // the attribute `key` = `value`. Keys are element names, so they must be
    // XML names (the patch keys are).
    void SetValue(std::string key, std::string value);

    // The document as the text of a file: UTF-8, one entry a line, indented
    // by two spaces:
    //   <?xml version="1.0" encoding="UTF-8"?>
    //   <Settings>
    //     <Attack Attack="250"/>
    //   </Settings>
    std::string SaveText() const;

private:
    const Entry* Find(std::string_view key) const;

    std::string root_ = "Settings";
    std::vector<Entry> entries_;
};
