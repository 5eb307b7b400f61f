#pragma once

#include <map>
#include <string>

// The hint texts, keyed by control id, as the program's string table holds them.
class HintTable {
public:
    // Lines of "id<TAB>text"; '#' lines and lines that do not parse are skipped.
    static HintTable parse(const std::string& table);

    // The tool tip of a control; empty when the id is 0 or has no string.
    std::string text(int controlId) const;
    std::size_t size() const { return m_texts.size(); }

private:
    std::map<int, std::string> m_texts;
};

// The tip a control shows: its hint while hints are on, nothing otherwise.
inline std::string tipFor(const HintTable& hints, int controlId, bool showHints) {
    return showHints ? hints.text(controlId) : std::string();
}
