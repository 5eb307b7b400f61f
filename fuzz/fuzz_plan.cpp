// Plans and unit events: any bytes give a plan or a refusal without failing; every row of a
// plan that parses holds only assignments set takes; any bytes give an event or none, and an
// event written reads back as itself; text shown on a terminal holds no control character.

#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "cli/CliSession.h"
#include "cli/Terminal.h"
#include "station/Plan.h"
#include "station/UnitRow.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::string error;
    if (const auto plan = Plan::parse(input, error)) {
        for (unsigned serial = 0; serial <= 65535; serial += 257) {
            if (const std::vector<std::string>* row = plan->find(serial)) {
                std::vector<FieldAssignment> checked;
                FUZZ_CHECK(parseAssignments(*row, checked, error));
            }
        }
    } else {
        FUZZ_CHECK(!error.empty());
    }

    UnitEvent event;
    if (decodeUnitEvent(input, event)) {
        UnitRow row;
        applyUnitEvent(row, event, 1000);
        (void)unitEndLine(row);
        (void)unitJson(row);
    }
    // The input's lines as the values of one event.
    UnitEvent sent{"out", {}};
    std::size_t from = 0;
    for (std::size_t at = input.find('\n'); at != std::string::npos; at = input.find('\n', from)) {
        sent.values.push_back(input.substr(from, at - from));
        from = at + 1;
    }
    sent.values.push_back(input.substr(from));
    const std::string line = encodeUnitEvent(sent);
    FUZZ_CHECK(line.find('\n') == line.size() - 1);
    UnitEvent back;
    FUZZ_CHECK(decodeUnitEvent(line, back));
    FUZZ_CHECK(back.key == sent.key && back.values == sent.values);

    // Whatever a name or a cell holds, what reaches a terminal holds no control character,
    // and showing it twice changes nothing.
    const std::string shown = terminalText(input);
    for (const char c : shown) {
        FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && c != 0x7f);
    }
    FUZZ_CHECK(terminalText(shown) == shown);
    // A file handed to a unit arrives as it was.
    std::string bytes;
    FUZZ_CHECK(bytesFromHex(hexBytes(input), bytes) && bytes == input);
    return 0;
}
