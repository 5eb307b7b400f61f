#pragma once

#include <array>
#include <cstdint>

// Help topics by context number, as the program's windows ask for them.

// F1 on a main-window control: this base plus the control's id.
inline constexpr std::uint32_t kMainWindowHelpBase = 0x806B0000;
// The configuration file dialogs and the upload file dialog.
inline constexpr std::uint32_t kConfigFileHelpContext = 0x20072;
inline constexpr std::uint32_t kUploadFileHelpContext = 0x2006E;

// The main-window controls that carry a topic: the port lists, the mode list, the four
// buttons, the three groups and the program status label.
inline constexpr std::array<int, 21> kMainWindowHelpControls{
    1005, 1006, 1008, 1010, 1011, 1012, 1015, 1017, 1018, 1019, 1025,
    1026, 1004, 1009, 1014, 1001, 1007, 1043, 1044, 1045, 1016};

// The topic of a main-window control; 0 for one without (the contents then).
constexpr std::uint32_t mainWindowHelpContext(int controlId) {
    for (int id : kMainWindowHelpControls) {
        if (id == controlId) {
            return kMainWindowHelpBase + static_cast<std::uint32_t>(controlId);
        }
    }
    return 0;
}
