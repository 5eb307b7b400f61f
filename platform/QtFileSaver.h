#pragma once

#include "platform/FileSaver.h"

// FileSaver through QSaveFile, which replaces the target only once the new file is whole.
class QtFileSaver : public FileSaver {
public:
    bool save(const std::string& path, const std::string& bytes) override;
    std::string refusal() const override { return m_refusal; }

private:
    std::string m_refusal;
};
