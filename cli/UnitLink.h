#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/UnitEvents.h"

// A unit's side of the exchange with the run that started it (UnitEvents.h): the run's words
// on one descriptor, the unit's events on another. Nothing here waits without also watching
// the stop descriptor, so a signal always ends a wait.
class UnitLink {
public:
    explicit UnitLink(int in = 0, int out = 1) : m_in(in), m_out(out) {}

    // The run's opening: the unit's command line, when the command takes a file its bytes,
    // a program to upload after it, and whether a plan gives the unit values. False with the
    // reason when the run said something else or went away.
    struct Start {
        std::vector<std::string> args;
        std::optional<std::string> input;
        std::optional<std::string> program;
        std::string programName;  // its file, for messages
        bool planned = false;
    };
    bool receiveStart(Start& start, std::string& error);
    // Sends one event. False once the run no longer takes them (it has gone away).
    bool send(const UnitEvent& event);
    // Tells the run the unit's serial number and version, and waits for its answer. A stop
    // descriptor that becomes readable ends the wait (GoAhead::stopped); a run that goes away
    // is a refusal: nothing is ever sent to a unit the run did not let go on.
    GoAhead askGoAhead(unsigned serial, const std::string& version, int stopFd);
    // An event could not be written.
    bool lost() const { return m_lost; }

private:
    enum class Read { Line, Stopped, Closed };
    Read readLine(std::string& line, int stopFd);

    int m_in;
    int m_out;
    std::string m_pending;
    bool m_closed = false;
    bool m_lost = false;
};
