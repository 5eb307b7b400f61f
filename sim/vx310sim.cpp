// vx310sim: a simulated VX310 on a pseudo-terminal, for trying VXCONF without the hardware.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sim/PtyServer.h"
#include "sim/Vx310Sim.h"

namespace {

const char kVersion[] = "vx310sim 1.0";

const char kUsage[] =
    "Usage: vx310sim [options]\n"
    "Serves a simulated VX310 on a pseudo-terminal and prints its device path.\n"
    "Runs until interrupted (SIGINT or SIGTERM).\n"
    "\n"
    "Options:\n"
    "  --link PATH     also make a symbolic link to the device at PATH\n"
    "  --no-pacing     move bytes instantly instead of at 9600 baud\n"
    "  --silent        answer nothing\n"
    "  --wrong-tag     read replies carry an unsupported version tag\n"
    "  --corrupt       read replies fail their checksum\n"
    "  --short         read replies are one byte short\n"
    "  --long          read replies are one byte too long\n"
    "  --delay MS      start every answer MS milliseconds late\n"
    "  --prompt TEXT   prompt to send (\\r, \\n and \\\\ are understood)\n"
    "  --ade           the device is an ADE product\n"
    "  --no-program    no valid user program is stored\n"
    "  --mode N        ADE mode, 0..3 (3 = off)\n"
    "  --serial N      serial number, 0..65535\n"
    "  --upload-error N  answer the first HEX record with Error=N\n"
    "  --stop-after N  go quiet after N bytes of an uploaded HEX file\n"
    "  --ignore-uf     say nothing to the user-program command UF\n"
    "  --end-with-wait end an upload with \", wait..\" instead of \"Done\"\n"
    "  --short-download N  leave N characters off a download\n"
    "  --ignore-stores take configurations sent to it, but keep the old one\n"
    "  --silent-after-reads N  answer nothing after N configuration reads\n"
    "  --endless-download  send a download's text without end, until CR ESC\n"
    "  --endless-waiting   end an upload with a \"Waiting\" line a second, for ever,\n"
    "                  until CR ESC\n"
    "  --help          show this help\n"
    "  --version       show the version\n";

volatile std::sig_atomic_t g_stop = 0;

extern "C" void onStopSignal(int) {
    g_stop = 1;
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "vx310sim: %s\nTry 'vx310sim --help'.\n", message.c_str());
    return 2;
}

bool parseNumber(const std::string& text, unsigned long max, unsigned long& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > 9) {
        return false;
    }
    value = std::strtoul(text.c_str(), nullptr, 10);
    return value <= max;
}

// Prompts with line ends are awkward to pass through a shell or a test's argument list.
std::string unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[i + 1];
            if (next == 'r' || next == 'n' || next == '\\') {
                out += next == 'r' ? '\r' : next == 'n' ? '\n' : '\\';
                ++i;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

// With a standard descriptor closed, the pseudo-terminal could land on it and our own
// messages would reach the device as input.
void keepStandardDescriptorsTaken() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        }
    }
}

void installSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: the stop must cut a poll short
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A reader of our output that went away is no reason to stop serving.
    std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int main(int argc, char* argv[]) {
    keepStandardDescriptorsTaken();

    Vx310Sim device;
    std::string linkPath;
    bool blockChanged = false;

    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        std::string value;
        bool hasValue = false;
        const std::size_t equals = option.find('=');
        if (option.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = option.substr(equals + 1);
            option.resize(equals);
            hasValue = true;
        }
        const bool takesValue = option == "--link" || option == "--delay" || option == "--prompt" ||
                                option == "--mode" || option == "--serial" ||
                                option == "--upload-error" || option == "--stop-after" ||
                                option == "--short-download" || option == "--silent-after-reads";
        if (takesValue && !hasValue) {
            if (i + 1 >= argc) {
                return usageError(option + " needs a value");
            }
            value = argv[++i];
        } else if (!takesValue && hasValue) {
            return usageError(option + " takes no value");
        }

        unsigned long number = 0;
        if (option == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (option == "--version") {
            std::printf("%s\n", kVersion);
            return 0;
        } else if (option == "--link") {
            if (value.empty()) {
                return usageError("--link needs a path");
            }
            linkPath = value;
        } else if (option == "--no-pacing") {
            device.pacing = false;
        } else if (option == "--silent") {
            device.faults.silent = true;
        } else if (option == "--wrong-tag") {
            device.faults.wrongTag = true;
        } else if (option == "--corrupt") {
            device.faults.corruptChecksum = true;
        } else if (option == "--short") {
            device.faults.replyLengthDelta = -1;
        } else if (option == "--long") {
            device.faults.replyLengthDelta = 1;
        } else if (option == "--delay") {
            if (!parseNumber(value, 600000, number)) {
                return usageError("--delay needs milliseconds, 0..600000");
            }
            device.faults.answerDelayMs = static_cast<std::uint32_t>(number);
        } else if (option == "--prompt") {
            device.faults.prompt = unescape(value);
        } else if (option == "--ade") {
            device.block.setByte(Offset::productType, 0);
            blockChanged = true;
        } else if (option == "--no-program") {
            device.storeProgram({});
        } else if (option == "--mode") {
            if (!parseNumber(value, 3, number)) {
                return usageError("--mode needs 0, 1, 2 or 3");
            }
            device.block.setByte(Offset::adeMode, static_cast<unsigned>(number));
            blockChanged = true;
        } else if (option == "--upload-error") {
            if (!parseNumber(value, 255, number) || number == 0) {
                return usageError("--upload-error needs a code, 1..255");
            }
            device.faults.uploadError = static_cast<int>(number);
        } else if (option == "--stop-after") {
            if (!parseNumber(value, 1000000, number)) {
                return usageError("--stop-after needs a byte count");
            }
            device.faults.stopAfterUploadBytes = static_cast<long>(number);
        } else if (option == "--ignore-stores") {
            device.faults.ignoreStores = true;
        } else if (option == "--silent-after-reads") {
            if (!parseNumber(value, 1000000, number)) {
                return usageError("--silent-after-reads needs a number");
            }
            device.faults.silentAfterReads = static_cast<int>(number);
        } else if (option == "--endless-download") {
            device.faults.endlessDownload = true;
        } else if (option == "--endless-waiting") {
            device.faults.endlessWaiting = true;
        } else if (option == "--ignore-uf") {
            device.faults.ignoreUf = true;
        } else if (option == "--end-with-wait") {
            device.faults.endWithWait = true;
        } else if (option == "--short-download") {
            if (!parseNumber(value, 65536, number)) {
                return usageError("--short-download needs a character count");
            }
            device.faults.shortDownload = static_cast<std::size_t>(number);
        } else if (option == "--serial") {
            if (!parseNumber(value, 65535, number)) {
                return usageError("--serial needs a number, 0..65535");
            }
            device.block.setWord(Offset::serialNumber, static_cast<unsigned>(number));
            blockChanged = true;
        } else {
            return usageError("unknown option " + option);
        }
    }
    if (blockChanged) {
        device.block.setByte(Offset::checksum, computeChecksum(device.block));
    }

    installSignalHandlers();
    PtyServer server(device);
    std::string error;
    if (!server.start(linkPath, error)) {
        std::fprintf(stderr, "vx310sim: %s\n", error.c_str());
        return 1;
    }
    // Whoever started us reads the path from here; if nobody listens, serve anyway.
    std::fprintf(stdout, "%s\n", server.devicePath().c_str());
    std::fflush(stdout);

    server.run(g_stop);
    return 0;
}
