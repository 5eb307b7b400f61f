#pragma once

#include <sys/types.h>

#include <deque>
#include <string>

// Starting a unit's process costs more than the unit's work: linking Qt and ICU into a new
// vxconf-cli takes some 13 ms of CPU alone, and three times that when 24 start at once on a
// small PC. So a run on several units forks, at the very start of main() and before Qt is set
// up, a launcher: a copy of the program, linked once, that waits for the run's requests. Each
// unit is forked from it and goes on in main() as a unit (--unit-report), with the standard
// input, output and error the run handed over. The launcher reaps the units and tells the run
// how each ended. It has a process group of its own, so that Ctrl-C reaches the run alone, and
// dies with the run (PR_SET_PDEATHSIG), which takes its units with it: each then aborts what it
// does through the machine's own Abort.
class UnitLauncher {
public:
    enum class Role { Run, Unit, Failed };

    // Forks the launcher. Returns Run in the program that called it, Unit in each unit forked
    // later (which is to carry on as a unit), and Failed when no launcher could be made.
    Role start();

    // A unit with these descriptors as its standard input, output and error (the launcher
    // takes copies); its process id, or -1 with errno's value in error.
    pid_t spawn(int in, int out, int err, int& error);
    // The launcher's descriptor: readable when it has reported units that ended.
    int fd() const { return m_socket; }
    // Units that ended: process id and wait status. False when none is waiting.
    bool nextEnded(pid_t& pid, int& status);
    bool running() const { return m_socket >= 0; }

    UnitLauncher() = default;
    ~UnitLauncher();
    UnitLauncher(const UnitLauncher&) = delete;
    UnitLauncher& operator=(const UnitLauncher&) = delete;

private:
    struct Ended {
        pid_t pid;
        int status;
    };
    // Reads one report; false when the launcher is gone.
    bool receive(bool wait);
    // The launcher's own loop; returns only in a unit.
    void serve(int socket);

    int m_socket = -1;
    pid_t m_launcher = -1;
    std::deque<Ended> m_ended;
    bool m_started = false;  // a spawn's answer has come
    pid_t m_startedPid = -1;
    int m_startedError = 0;
};
