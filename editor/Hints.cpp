#include "Hints.h"

HintTable HintTable::parse(const std::string& table) {
    HintTable hints;
    std::size_t pos = 0;
    while (pos < table.size()) {
        std::size_t end = table.find('\n', pos);
        if (end == std::string::npos) {
            end = table.size();
        }
        std::string line = table.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::size_t tab = line.find('\t');
        if (line.empty() || line[0] == '#' || tab == std::string::npos || tab == 0 || tab > 9) {
            continue;
        }
        int id = 0;
        bool digits = true;
        for (std::size_t i = 0; i < tab; ++i) {
            digits = digits && line[i] >= '0' && line[i] <= '9';
            id = id * 10 + (line[i] - '0');
        }
        if (digits && id != 0) {
            hints.m_texts[id] = line.substr(tab + 1);
        }
    }
    return hints;
}

std::string HintTable::text(int controlId) const {
    const auto it = m_texts.find(controlId);
    return it == m_texts.end() ? std::string() : it->second;
}
