#pragma once

#include <cstdint>

// The help viewer: topics keyed by context number, as the program's windows ask for them.
class HelpViewer {
public:
    virtual ~HelpViewer() = default;
    // The contents and index.
    virtual void showContents() = 0;
    // The topic of a context number; the contents when there is none for it.
    virtual void showTopic(std::uint32_t context) = 0;
    // Closes the viewer, if it is open.
    virtual void quit() = 0;
};
