#pragma once

#include <array>
#include <cstddef>

#include "device/ConfigBlock.h"

// The main window's thirteen drop-down lists and how each maps to a block field.

enum FormList : std::size_t {
    P1Baud,
    P1WordLength,
    P1Parity,
    P1StopBits,
    P1RxXonXoff,
    P1TxXonXoff,
    P2Baud,
    P2WordLength,
    P2Parity,
    P2StopBits,
    P2RxXonXoff,
    P2TxXonXoff,
    AdeModeList,
    kFormListCount
};

struct FormListInfo {
    int controlId;
    const char* const* entries;
    int entryCount;
};

const FormListInfo& formListInfo(FormList list);

// Selected entry of each list; -1 when none is selected.
using FormValues = std::array<int, kFormListCount>;

// Before anything has been read: nothing selected, mode "off".
FormValues initialForm();

// The lists' selections for a block. A code that no entry stands for gives -1.
FormValues formFromBlock(const ConfigBlock& block);

// Writes the lists' selections into the block. A list without a selection leaves its field
// as the block holds it, so a code the lists cannot show survives an update unchanged.
void formToBlock(const FormValues& form, ConfigBlock& block);

// The ADE mode list's selection enables "&Configure" for modes 1 and 2.
inline bool modeHasSettings(int modeIndex) {
    return modeIndex == 1 || modeIndex == 2;
}
