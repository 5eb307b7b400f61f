#include "FormTable.h"

namespace {

const char* const kBaudRates[] = {"30",   "37.5", "50",   "75",    "100",   "110",   "134.5",
                                  "150",  "300",  "600",  "1200",  "2000",  "2400",  "3600",
                                  "4800", "7200", "9600", "19200", "38400", "57600", "115200"};
const char* const kWordLengths[] = {"7", "8"};
const char* const kParities[] = {"none", "even", "odd"};
const char* const kStopBits[] = {"1", "2"};
const char* const kXonXoff[] = {"disabled", "enabled"};
const char* const kModes[] = {"0", "1", "2", "off"};

template <std::size_t N>
constexpr FormListInfo info(int id, const char* const (&entries)[N]) {
    return {id, entries, static_cast<int>(N)};
}

const FormListInfo kLists[kFormListCount] = {
    info(1005, kBaudRates), info(1006, kWordLengths), info(1008, kParities),
    info(1010, kStopBits),  info(1011, kXonXoff),     info(1012, kXonXoff),
    info(1015, kBaudRates), info(1017, kWordLengths), info(1018, kParities),
    info(1019, kStopBits),  info(1025, kXonXoff),     info(1026, kXonXoff),
    info(1004, kModes),
};

struct PortFields {
    FormList baud, wordLength, parity, stopBits, rx, tx;
    std::size_t baudOffset, wordOffset, parityOffset, stopOffset, xonOffset;
};

const PortFields kPorts[2] = {
    {P1Baud, P1WordLength, P1Parity, P1StopBits, P1RxXonXoff, P1TxXonXoff, Offset::p1Baud,
     Offset::p1WordLength, Offset::p1Parity, Offset::p1StopBits, Offset::p1XonXoff},
    {P2Baud, P2WordLength, P2Parity, P2StopBits, P2RxXonXoff, P2TxXonXoff, Offset::p2Baud,
     Offset::p2WordLength, Offset::p2Parity, Offset::p2StopBits, Offset::p2XonXoff},
};

bool inRange(FormList list, int index) {
    return index >= 0 && index < kLists[list].entryCount;
}

int shown(FormList list, int index) {
    return inRange(list, index) ? index : -1;
}

}  // namespace

const FormListInfo& formListInfo(FormList list) {
    return kLists[list];
}

FormValues initialForm() {
    FormValues form;
    form.fill(-1);
    form[AdeModeList] = 3;
    return form;
}

FormValues formFromBlock(const ConfigBlock& block) {
    FormValues form;
    for (const PortFields& port : kPorts) {
        // Done in full int width on the unsigned byte, so a stray code falls outside the list.
        form[port.baud] = shown(port.baud, block.byte(port.baudOffset));
        form[port.wordLength] = shown(port.wordLength, block.byte(port.wordOffset) - 2);
        form[port.parity] = shown(port.parity, block.byte(port.parityOffset) - 1);
        form[port.stopBits] = shown(port.stopBits, block.byte(port.stopOffset));
        const int xon = block.byte(port.xonOffset);
        form[port.rx] = shown(port.rx, xon & 1);
        form[port.tx] = shown(port.tx, xon >> 1);
    }
    form[AdeModeList] = shown(AdeModeList, block.byte(Offset::adeMode));
    return form;
}

void formToBlock(const FormValues& form, ConfigBlock& block) {
    auto put = [&](FormList list, std::size_t offset, int bias) {
        if (inRange(list, form[list])) {
            block.setByte(offset, static_cast<unsigned>(form[list] + bias));
        }
    };
    for (const PortFields& port : kPorts) {
        put(port.baud, port.baudOffset, 0);
        put(port.wordLength, port.wordOffset, 2);
        put(port.parity, port.parityOffset, 1);
        put(port.stopBits, port.stopOffset, 0);
        // RX is bit 0 and TX the rest of the byte; an unselected half keeps its bits.
        unsigned xon = block.byte(port.xonOffset);
        if (inRange(port.rx, form[port.rx])) {
            xon = (xon & ~1u) | static_cast<unsigned>(form[port.rx]);
        }
        if (inRange(port.tx, form[port.tx])) {
            xon = (xon & 1u) | static_cast<unsigned>(form[port.tx]) << 1;
        }
        block.setByte(port.xonOffset, xon);
    }
    put(AdeModeList, Offset::adeMode, 0);
}
