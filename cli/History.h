#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/UnitResult.h"

// The history of every unit: one row a unit's run (where, when, by whom, under which job,
// the result) and the configuration sent and read back, field by field. An SQLite database
// in WAL mode, written a transaction a run with a busy time-out, so that several stations
// on one machine share it safely. Untrusted like any file: a damaged or foreign database is
// refused with its reason, never read past.
class History {
public:
    // One run as the history holds it.
    struct Run {
        std::int64_t id = 0;
        UnitResult unit;
        std::string device;
        std::string command;
        std::string file;
        std::string toolVersion;
        bool again = false;
        std::optional<int> hookStatus;  // the hook's exit status; none without a hook's end
        std::string hookOutput;         // its first line, or why it did not end
    };
    // An earlier ok run of a serial number.
    struct Earlier {
        std::string time;
        std::string job;
        std::string jobSha256;
    };

    History();
    ~History();
    History(const History&) = delete;
    History& operator=(const History&) = delete;

    // $XDG_DATA_HOME/vxconf/history.sqlite, else ~/.local/share/vxconf/history.sqlite.
    static std::string defaultPath();

    // Opens (or makes) the database and checks that it can be written; false with the reason.
    bool open(const std::string& path, std::string& error);
    bool isOpen() const { return m_open; }
    const std::string& path() const { return m_path; }

    // Writes one unit's run; its row's id, or nothing with the reason.
    std::optional<std::int64_t> record(const Run& run, std::string& error);
    // What the hook run after a unit gave.
    bool recordHook(std::int64_t id, std::optional<int> status, const std::string& output,
                    std::string& error);

    // The latest ok run of serial under the job with this fingerprint (sameJob), or under
    // any other job; nothing when there is none. false on a database fault.
    bool lastOk(const std::string& serial, const std::string& jobSha256, bool sameJob,
                std::optional<Earlier>& found, std::string& error);

    // The runs, newest first: of one serial number when given, from since (ISO date or time)
    // on when given. withFields: the values sent and read back too.
    bool runs(const std::string& serial, const std::string& since, bool withFields,
              std::vector<Run>& out, std::string& error);

private:
    bool exec(const char* sql, std::string& error);
    std::string m_connection;
    std::string m_path;
    bool m_open = false;
};

// The station's name when none is given: the host's.
std::string hostName();

// The history in words: a line a run, or with story a unit's every run with its values.
std::string historyText(const std::vector<History::Run>& runs, bool story);
// One run as one JSON object, on one line.
std::string historyJson(const History::Run& run);
// "2026-12-10" or "2026-12-10T08:00:00Z": the start of a --since; empty when it is neither.
std::string sinceTime(const std::string& date);
