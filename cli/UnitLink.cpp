#include "UnitLink.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "cli/ExitStatus.h"

namespace {

constexpr char kRunGone[] = "The run that started this unit has ended: nothing was sent to it";

}  // namespace

UnitLink::Read UnitLink::readLine(std::string& line, int stopFd) {
    while (true) {
        const std::size_t end = m_pending.find('\n');
        if (end != std::string::npos) {
            line = m_pending.substr(0, end + 1);
            m_pending.erase(0, end + 1);
            return Read::Line;
        }
        if (m_closed || m_pending.size() > kMaxExchangeLine) {
            return Read::Closed;
        }
        pollfd fds[2] = {{m_in, POLLIN, 0}, {stopFd, POLLIN, 0}};
        const int ready = ::poll(fds, stopFd >= 0 ? 2 : 1, -1);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Read::Closed;
        }
        if (stopFd >= 0 && (fds[1].revents & POLLIN) != 0) {
            return Read::Stopped;
        }
        char buffer[65536];
        const ssize_t got = ::read(m_in, buffer, sizeof buffer);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (got <= 0) {
            m_closed = true;
            continue;
        }
        m_pending.append(buffer, static_cast<std::size_t>(got));
    }
}

bool UnitLink::receiveStart(Start& start, std::string& error) {
    start = Start{};
    bool gotArgs = false;
    for (std::string line; readLine(line, -1) == Read::Line;) {
        UnitEvent words;
        if (!decodeUnitEvent(line, words)) {
            continue;
        }
        if (words.key == RunKey::kArgs) {
            start.args = words.values;
            gotArgs = true;
        } else if ((words.key == RunKey::kInput || words.key == RunKey::kProgram) &&
                   !words.values.empty() && words.values.size() <= 2) {
            std::string bytes;
            if (!bytesFromHex(words.values[0], bytes)) {
                error = "The run sent this unit a damaged input";
                return false;
            }
            (words.key == RunKey::kInput ? start.input : start.program) = std::move(bytes);
            if (words.key == RunKey::kProgram && words.values.size() == 2) {
                start.programName = words.values[1];
            }
        } else if (words.key == RunKey::kStart) {
            start.planned = !words.values.empty() && words.values[0] == RunKey::kPlanned;
            if (!gotArgs) {
                error = "The run sent this unit no command";
            }
            return gotArgs;
        }
    }
    error = kRunGone;
    return false;
}

bool UnitLink::send(const UnitEvent& event) {
    const std::string line = encodeUnitEvent(event);
    std::size_t done = 0;
    while (!m_lost && done < line.size()) {
        const ssize_t n = ::write(m_out, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            m_lost = true;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return !m_lost;
}

GoAhead UnitLink::askGoAhead(unsigned serial, const std::string& version, int stopFd) {
    GoAhead answer;
    answer.go = false;
    answer.code = kExitDevice;
    answer.refusal = kRunGone;
    if (!send({UnitKey::kSerial, {std::to_string(serial), version}})) {
        return answer;
    }
    std::string line;
    while (true) {
        const Read read = readLine(line, stopFd);
        if (read == Read::Stopped) {
            answer.stopped = true;
            return answer;
        }
        if (read == Read::Closed) {
            return answer;
        }
        UnitEvent words;
        if (!decodeUnitEvent(line, words)) {
            continue;
        }
        if (words.key == RunKey::kGo) {
            answer.go = true;
            answer.code = kExitOk;
            answer.refusal.clear();
            answer.planned = words.values;
            return answer;
        }
        if (words.key == RunKey::kRefuse && words.values.size() == 2) {
            const std::string& code = words.values[0];
            const bool number = !code.empty() && code.size() <= 3 &&
                                code.find_first_not_of("0123456789") == std::string::npos;
            answer.code = number && std::stoi(code) != 0 ? std::stoi(code) : kExitDevice;
            answer.refusal = words.values[1];
            return answer;
        }
    }
}
