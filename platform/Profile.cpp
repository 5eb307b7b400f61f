#include "Profile.h"

#include "platform/FileRead.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

namespace {

// The settings file is a few hundred bytes; anything bigger is not ours to load whole.
constexpr std::size_t kMaxFileSize = 1u << 20;
// getInt reads its number through a string buffer of this size, as the old API did.
constexpr std::size_t kIntBufferSize = 30;

bool isBlank(char ch) {
    const auto c = static_cast<unsigned char>(ch);
    return c <= 0x20 || c == 0x7f;  // space, tab, control characters, ^Z
}

std::string trimLeft(const std::string& s) {
    std::size_t b = 0;
    while (b < s.size() && isBlank(s[b])) {
        ++b;
    }
    return s.substr(b);
}

std::string trimRight(const std::string& s) {
    std::size_t e = s.size();
    while (e > 0 && isBlank(s[e - 1])) {
        --e;
    }
    return s.substr(0, e);
}

std::string trim(const std::string& s) {
    return trimLeft(trimRight(s));
}

bool sameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto ca = static_cast<unsigned char>(a[i]);
        auto cb = static_cast<unsigned char>(b[i]);
        if (ca >= 'A' && ca <= 'Z') {
            ca = static_cast<unsigned char>(ca - 'A' + 'a');
        }
        if (cb >= 'A' && cb <= 'Z') {
            cb = static_cast<unsigned char>(cb - 'A' + 'a');
        }
        if (ca != cb) {
            return false;
        }
    }
    return true;
}

std::string unquote(const std::string& v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        return v.substr(1, v.size() - 2);
    }
    return v;
}

// One physical line with its byte positions, so the writer can touch just that line.
struct RawLine {
    enum Kind { Blank, Comment, Section, Key };
    std::size_t begin = 0;
    std::size_t end = 0;   // end of the text, start of the line ending
    std::size_t next = 0;  // start of the following line
    Kind kind = Blank;
    std::size_t section = 0;           // 0 is the nameless part before the first header
    std::string name;                  // section or key name
    std::optional<std::string> value;  // quotes still on; nothing when there is no '='
};

struct ParsedText {
    std::vector<std::string> sections{std::string()};
    std::vector<RawLine> lines;
    std::size_t bodyStart = 0;  // past a UTF-8 byte-order mark
};

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

ParsedText parse(const std::string& text) {
    ParsedText out;
    // Editors may put a byte-order mark in front; it is not part of the first line.
    if (text.compare(0, 3, kByteOrderMark) == 0) {
        out.bodyStart = 3;
    }
    std::size_t pos = out.bodyStart;
    while (pos < text.size()) {
        RawLine line;
        line.begin = pos;
        while (pos < text.size() && text[pos] != '\r' && text[pos] != '\n') {
            ++pos;
        }
        line.end = pos;
        if (pos < text.size()) {
            pos += (text[pos] == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n') ? 2 : 1;
        }
        line.next = pos;

        const std::string content = trim(text.substr(line.begin, line.end - line.begin));
        const std::size_t close = content.rfind(']');
        if (content.empty()) {
            line.kind = RawLine::Blank;
        } else if (content[0] == ';') {
            line.kind = RawLine::Comment;
        } else if (content[0] == '[' && close != std::string::npos) {
            line.kind = RawLine::Section;
            line.name = trim(content.substr(1, close - 1));
            out.sections.push_back(line.name);
        } else {
            line.kind = RawLine::Key;
            const std::size_t eq = content.find('=');
            if (eq == std::string::npos) {
                line.name = content;
            } else {
                line.name = trimRight(content.substr(0, eq));
                line.value = trimLeft(content.substr(eq + 1));
            }
        }
        line.section = out.sections.size() - 1;
        out.lines.push_back(std::move(line));
    }
    return out;
}

std::optional<std::size_t> findSection(const std::vector<std::string>& sections,
                                       const std::string& name) {
    for (std::size_t i = 0; i < sections.size(); ++i) {
        if (sameName(sections[i], name)) {
            return i;
        }
    }
    return std::nullopt;
}

enum class ReadResult { Ok, Missing, Failed };

// Only regular files: a FIFO or device would block or never end.
ReadResult readFile(const std::string& path, std::size_t limit, std::string& out, bool& truncated) {
    const FileRead read = readFileStart(path, {limit, true, &truncated}, out);
    return read == FileRead::Ok        ? ReadResult::Ok
           : read == FileRead::Missing ? ReadResult::Missing
                                       : ReadResult::Failed;
}

std::string dirName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Follows the last component while it is a link, so a linked settings file stays linked.
std::optional<std::string> resolveLinks(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return path;
        }
        std::string target(4096, '\0');
        const ssize_t n = ::readlink(path.c_str(), &target[0], target.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) {
            return std::nullopt;
        }
        target.resize(static_cast<std::size_t>(n));
        path = target[0] == '/' ? target : dirName(path) + "/" + target;
    }
    return std::nullopt;  // a link loop
}

bool makeDirs(const std::string& dir) {
    for (std::size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos == dir.size() || dir[pos] == '/') {
            const std::string prefix = dir.substr(0, pos);
            if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
                return false;
            }
        }
    }
    struct stat st {};
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool writeAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Write a sibling file and rename it over the target: a reader, or a crash, sees either
// the old file or the new one, never half of each.
bool replaceFile(const std::string& path, const std::string& contents) {
    const std::string dir = dirName(path);
    if (!makeDirs(dir)) {
        return false;
    }
    static std::atomic<unsigned> counter{0};
    const std::string base =
        path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = dir + "/." + base + ".tmp" + std::to_string(::getpid()) + "." +
               std::to_string(counter++);
        // 0666 so the umask decides, as for any new file; an existing file's mode is copied below.
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            return false;
        }
    }
    if (fd < 0) {
        return false;
    }
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0) {
        (void)::fchmod(fd, old.st_mode & 07777);
        (void)!::fchown(fd, old.st_uid, old.st_gid);
    }
    bool ok = writeAll(fd, contents) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        (void)::fsync(dirFd);  // makes the rename itself durable; best effort
        ::close(dirFd);
    }
    return true;
}

bool hasLineBreakOrNul(const std::string& s) {
    return s.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

// Names the reader would not give back as written are refused rather than stored wrongly.
bool canWriteSection(const std::string& section) {
    return !hasLineBreakOrNul(section) && section.find(']') == std::string::npos &&
           trim(section) == section;
}

// A key line starting with '[' reads as a section header once the value holds a ']', and
// one starting with a byte-order mark loses it when it becomes the file's first line.
bool canWriteKey(const std::string& key) {
    return !key.empty() && !hasLineBreakOrNul(key) && key.find('=') == std::string::npos &&
           trim(key) == key && key[0] != ';' && key[0] != '[' &&
           key.compare(0, 3, kByteOrderMark) != 0;
}

bool needsQuotes(const std::string& value) {
    return !value.empty() &&
           (isBlank(value.front()) || isBlank(value.back()) || unquote(value) != value);
}

// New lines end as the file's lines already do; a file without any gets LF.
std::string lineEnding(const std::string& text) {
    const std::size_t pos = text.find_first_of("\r\n");
    if (pos == std::string::npos || text[pos] == '\n') {
        return "\n";
    }
    return pos + 1 < text.size() && text[pos + 1] == '\n' ? "\r\n" : "\r";
}

}  // namespace

ProfileFile::ProfileFile(const std::string& contents) {
    ParsedText parsed = parse(contents);
    m_sections = std::move(parsed.sections);
    for (RawLine& line : parsed.lines) {
        if (line.kind != RawLine::Key) {
            continue;
        }
        std::optional<std::string> value;
        if (line.value) {
            value = unquote(*line.value);
        }
        m_lines.push_back(Line{line.section, std::move(line.name), std::move(value)});
    }
}

ProfileFile ProfileFile::load(const std::string& path) {
    std::string text;
    bool truncated = false;
    if (readFile(path, kMaxFileSize, text, truncated) != ReadResult::Ok) {
        return ProfileFile();
    }
    return ProfileFile(text);
}

std::optional<std::string> ProfileFile::value(const std::string& section,
                                              const std::string& key) const {
    const std::optional<std::size_t> index = findSection(m_sections, section);
    if (!index) {
        return std::nullopt;
    }
    for (const Line& line : m_lines) {
        if (line.section == *index && sameName(line.key, key)) {
            return line.value;  // the first match decides, even when it has no value
        }
    }
    return std::nullopt;
}

std::vector<std::pair<std::string, std::string>> ProfileFile::keys() const {
    std::vector<std::pair<std::string, std::string>> result;
    result.reserve(m_lines.size());
    for (const Line& line : m_lines) {
        result.emplace_back(m_sections[line.section], line.key);
    }
    return result;
}

std::string ProfileFile::getString(const std::string& section, const std::string& key,
                                   const std::string& defaultValue, std::size_t bufferSize) const {
    if (bufferSize == 0) {
        return std::string();
    }
    std::string result = value(section, key).value_or(defaultValue);
    if (result.size() > bufferSize - 1) {
        result.resize(bufferSize - 1);
    }
    return result;
}

unsigned ProfileFile::getInt(const std::string& section, const std::string& key,
                             int defaultValue) const {
    const std::string text = getString(section, key, std::string(), kIntBufferSize);
    if (text.empty()) {
        return static_cast<unsigned>(defaultValue);
    }
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    unsigned result = 0;  // unsigned, so an overlong number wraps like the original
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        result = result * 10u + static_cast<unsigned>(text[i] - '0');
    }
    return negative ? 0u - result : result;
}

unsigned getPrivateProfileInt(const std::string& section, const std::string& key, int defaultValue,
                              const std::string& file) {
    return ProfileFile::load(file).getInt(section, key, defaultValue);
}

std::string getPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, std::size_t bufferSize,
                                    const std::string& file) {
    return ProfileFile::load(file).getString(section, key, defaultValue, bufferSize);
}

std::optional<std::string> profileTextWith(const std::string& text, const std::string& section,
                                           const std::string& key, const std::string& value) {
    if (!canWriteSection(section) || !canWriteKey(key) || hasLineBreakOrNul(value)) {
        return std::nullopt;
    }
    // Quoted, the reader gives back exactly what was written: it would otherwise trim the
    // blanks at either end or take off a pair of surrounding quotes.
    const std::string stored = needsQuotes(value) ? "\"" + value + "\"" : value;
    const std::string eol = lineEnding(text);
    const ParsedText parsed = parse(text);
    const std::string newLine = key + "=" + stored;
    const std::optional<std::size_t> index = findSection(parsed.sections, section);
    if (!index) {
        std::string updated = text;
        if (updated.size() > parsed.bodyStart && updated.back() != '\r' && updated.back() != '\n') {
            updated += eol;
        }
        return updated + "[" + section + "]" + eol + newLine + eol;
    }
    const RawLine* existing = nullptr;
    const RawLine* last = nullptr;  // the section's last non-blank line
    for (const RawLine& line : parsed.lines) {
        if (line.section != *index) {
            continue;
        }
        if (line.kind != RawLine::Blank) {
            last = &line;
        }
        if (!existing && line.kind == RawLine::Key && sameName(line.name, key)) {
            existing = &line;
        }
    }
    if (existing) {
        // Compare what a reader would see, so rewriting the same value leaves the file alone.
        if (existing->value && unquote(*existing->value) == value) {
            return text;
        }
        return text.substr(0, existing->begin) + existing->name + "=" + stored +
               text.substr(existing->end);
    }
    if (last) {
        const std::string ending = last->next == last->end ? eol : "";
        return text.substr(0, last->next) + ending + newLine + eol + text.substr(last->next);
    }
    // The nameless part with nothing in it yet: its keys go first in the file, after a
    // byte-order mark if there is one.
    return text.substr(0, parsed.bodyStart) + newLine + eol + text.substr(parsed.bodyStart);
}

bool writePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& file) {
    if (!canWriteSection(section) || !canWriteKey(key) || hasLineBreakOrNul(value)) {
        return false;
    }
    const std::optional<std::string> target = resolveLinks(file);
    if (!target) {
        return false;
    }
    std::string text;
    bool truncated = false;
    const ReadResult read = readFile(*target, kMaxFileSize, text, truncated);
    // Writing back part of a file, or one we could not read, would lose the rest of it.
    if (read == ReadResult::Failed || truncated) {
        return false;
    }
    const std::optional<std::string> updated = profileTextWith(text, section, key, value);
    if (!updated) {
        return false;
    }
    if (*updated == text) {
        return true;
    }
    return replaceFile(*target, *updated);
}

bool writeProfileText(const std::string& file, const std::string& text) {
    const std::optional<std::string> target = resolveLinks(file);
    return target && replaceFile(*target, text);
}
