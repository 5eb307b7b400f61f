// The simulated VX310 under any bytes from the host, in any timing: it never fails, time
// never runs backwards, and it only ever says what the host can read.

#include <cstdint>
#include <vector>

#include "FuzzCheck.h"
#include "sim/Vx310Sim.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    Vx310Sim sim;
    sim.pacing = data[0] & 1;
    sim.faults.silent = data[0] & 2;
    sim.faults.wrongTag = data[0] & 4;
    sim.faults.corruptChecksum = data[0] & 8;
    sim.faults.replyLengthDelta = (data[0] >> 4) % 3 - 1;
    sim.faults.answerDelayMs = data[1] % 8;
    std::uint64_t now = 0;
    std::uint8_t buffer[300];
    std::size_t pos = 2;
    // Chunks of up to 16 bytes, each followed by a step in time that the input chooses.
    while (pos < size) {
        const std::size_t chunk = std::min<std::size_t>(1 + data[pos] % 16, size - pos - 1);
        const std::uint64_t step = (data[pos] >> 4) * Vx310Sim::kByteTimeUs;
        ++pos;
        sim.hostWrite(data + pos, chunk, now);
        pos += chunk;
        now += step;
        sim.advanceTo(now);
        const std::size_t got = sim.hostRead(now, buffer, sizeof buffer);
        FUZZ_CHECK(got <= sizeof buffer);
        // Everything due by now has been handled or handed over.
        if (got < sizeof buffer) {
            FUZZ_CHECK(sim.nextEventUs() > now);
        }
    }
    // Let everything in flight arrive, a buffer's worth at a time: it must end, and the wire
    // must be quiet after.
    for (int i = 0; i < 100000 && sim.nextEventUs() != Vx310Sim::kNever; ++i) {
        now = std::max(now, sim.nextEventUs()) + (sizeof buffer - 1) * Vx310Sim::kByteTimeUs;
        sim.advanceTo(now);
        sim.hostRead(now, buffer, sizeof buffer);
    }
    FUZZ_CHECK(sim.nextEventUs() == Vx310Sim::kNever);
    return 0;
}
