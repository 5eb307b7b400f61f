#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Private-profile (INI) files: sections of key=value lines, names matched without regard to
// case. Reading never fails (missing file, section or key give the caller's default);
// writing changes one line and leaves every other line of the file as it was.

// A file read once and queried many times.
class ProfileFile {
public:
    ProfileFile() = default;
    explicit ProfileFile(const std::string& contents);
    // A missing or unreadable file reads as empty.
    static ProfileFile load(const std::string& path);

    // The value with surrounding quotes removed, or nothing when the section or key is
    // missing or the key's line has no '='.
    std::optional<std::string> value(const std::string& section, const std::string& key) const;
    // At most bufferSize - 1 characters of the value, or of the default when it is missing.
    std::string getString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, std::size_t bufferSize) const;
    // Leading blanks, optional sign, digits; wraps modulo 2^32. Missing or empty gives the
    // default.
    unsigned getInt(const std::string& section, const std::string& key, int defaultValue) const;

    // Every key line as (section name, key name), in file order.
    std::vector<std::pair<std::string, std::string>> keys() const;

private:
    struct Line {
        std::size_t section = 0;  // index into m_sections
        std::string key;
        std::optional<std::string> value;
    };
    // In file order; [0] is the nameless part before the first header. Repeated names are
    // kept so that only the first of them is searched.
    std::vector<std::string> m_sections{std::string()};
    std::vector<Line> m_lines;  // key lines only
};

unsigned getPrivateProfileInt(const std::string& section, const std::string& key, int defaultValue,
                              const std::string& file);
std::string getPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, std::size_t bufferSize,
                                    const std::string& file);
// The file's text with key set to value in section, every other line as it was; nothing
// when the names or the value cannot be stored so that they read back as given.
std::optional<std::string> profileTextWith(const std::string& text, const std::string& section,
                                           const std::string& key, const std::string& value);
// Creates the file (and its folder), section or key when missing. The file is replaced
// atomically, so a failed write leaves it as it was. False when it could not be written.
bool writePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& file);
// Replaces the whole file with text (built with profileTextWith), atomically as above.
bool writeProfileText(const std::string& file, const std::string& text);
