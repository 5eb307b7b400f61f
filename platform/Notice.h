#pragma once

#include <string>

// Every message box of the program goes through a Notifier: the program shows real boxes,
// tests install one that answers from a script and records what was asked.

enum class NoticeIcon { None, Information, Exclamation, Question };
enum class NoticeButtons { Ok, YesNo };
enum class NoticeAnswer { Ok, Yes, No };
// What a notice reports, for a program that ends with an exit status (vxconf-cli). It is set
// where the notice is raised, never read back from the words, which may change.
enum class NoticeKind { Info, Warning, Mismatch, FileError, DeviceError };

struct Notice {
    std::string text;
    std::string caption;
    NoticeIcon icon = NoticeIcon::None;
    NoticeButtons buttons = NoticeButtons::Ok;
    NoticeKind kind = NoticeKind::Info;

    // What the user sees; the kind is not shown.
    bool operator==(const Notice& other) const {
        return text == other.text && caption == other.caption && icon == other.icon &&
               buttons == other.buttons;
    }
};

// Caption of notices that have none of their own.
inline constexpr const char kProgramName[] = "vxconf";

class Notifier {
public:
    virtual ~Notifier() = default;
    // Shows the notice modally and returns the user's answer.
    virtual NoticeAnswer show(const Notice& notice) = 0;
};
