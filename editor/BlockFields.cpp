#include "BlockFields.h"

#include <cstdio>
#include <deque>

#include "device/Format.h"
#include "editor/FormTable.h"
#include "platform/AnsiText.h"

namespace {

const char* const kDriverChoices[] = {"ADE Controlled (RS485)", "Always Enabled (RS422)"};
const char* const kDriverShort[] = {"rs485", "rs422"};
const char* const kXonWords[] = {"disabled", "enabled"};

std::vector<BlockField> makeFields() {
    std::vector<BlockField> fields;
    struct Port {
        const char* prefix;
        const char* label;
        FormList baud;
        std::size_t offset;
    };
    const Port ports[] = {{"port1.", "Port 1 ", P1Baud, Offset::p1Baud},
                          {"port2.", "Port 2 ", P2Baud, Offset::p2Baud}};
    // The names and labels outlive the table; a deque never moves what it holds.
    static std::deque<std::string> texts;
    auto keep = [](std::string text) { return texts.emplace_back(std::move(text)).c_str(); };
    for (const Port& port : ports) {
        const std::string p = port.prefix;
        const std::string l = port.label;
        const int list = static_cast<int>(port.baud);
        fields.push_back(
            {keep(p + "baud"), keep(l + "Baud Rate"), port.offset, FieldKind::List, list, 0, 0});
        fields.push_back({keep(p + "bits"), keep(l + "Bits per Word"), port.offset + 1,
                          FieldKind::List, list + 1, 2, 0});
        fields.push_back({keep(p + "parity"), keep(l + "Parity"), port.offset + 2, FieldKind::List,
                          list + 2, 1, 0});
        fields.push_back({keep(p + "stopBits"), keep(l + "Stop Bits"), port.offset + 3,
                          FieldKind::List, list + 3, 0, 0});
        fields.push_back({keep(p + "rxXonXoff"), keep(l + "RX Xon/Xoff"), port.offset + 4,
                          FieldKind::Xon, 0, 0, 0});
        fields.push_back({keep(p + "txXonXoff"), keep(l + "TX Xon/Xoff"), port.offset + 4,
                          FieldKind::Xon, 0, 0, 1});
    }
    fields.push_back({"mode", "ADE Mode", Offset::adeMode, FieldKind::List, AdeModeList, 0, 0});
    fields.push_back(
        {"mode1.driver", "Mode 1 Driver", Offset::m1DriverAlwaysOn, FieldKind::Driver, 0, 0, 0});
    const char* const bauds[kTurnOffDelayCount] = {"9600", "19200", "38400", "57600", "115200"};
    for (std::size_t i = 0; i < kTurnOffDelayCount; ++i) {
        fields.push_back({keep(std::string("mode1.turnOffDelay") + bauds[i]),
                          keep(std::string("Mode 1 Turn-off Delay at ") + bauds[i] + " baud"),
                          Offset::m1TurnOffDelay + i, FieldKind::Byte, 0, 0, 0});
    }
    fields.push_back(
        {"mode2.address", "Mode 2 Address", Offset::m2Address, FieldKind::Byte, 0, 0, 0});
    fields.push_back(
        {"mode2.leadIn", "Mode 2 Lead-in Byte", Offset::m2LeadIn, FieldKind::Byte, 0, 0, 0});
    fields.push_back(
        {"mode2.timeout", "Mode 2 Timeout (ms)", Offset::m2Timeout, FieldKind::Word, 0, 0, 0});
    return fields;
}

const FormListInfo& listOf(const BlockField& field) {
    return formListInfo(static_cast<FormList>(field.list));
}

// The field's raw value: the code, the bit, the byte or the word.
unsigned rawValue(const ConfigBlock& block, const BlockField& field) {
    switch (field.kind) {
        case FieldKind::Xon:
            return block.byte(field.offset) >> field.bit & 1u;
        case FieldKind::Word:
            return block.word(field.offset);
        default:
            return block.byte(field.offset);
    }
}

// The entry a List field's code stands for; -1 for none.
int listIndex(const BlockField& field, unsigned code) {
    const int index = static_cast<int>(code) - field.bias;
    return index >= 0 && index < listOf(field).entryCount ? index : -1;
}

// The bits of each byte that some field covers.
std::array<std::uint8_t, kBlockSize> coveredBits() {
    std::array<std::uint8_t, kBlockSize> covered{};
    for (const BlockField& field : blockFields()) {
        if (field.kind == FieldKind::Xon) {
            covered[field.offset] |= static_cast<std::uint8_t>(1u << field.bit);
        } else {
            covered[field.offset] = 0xFF;
            if (field.kind == FieldKind::Word) {
                covered[field.offset + 1] = 0xFF;
            }
        }
    }
    return covered;
}

bool isDeviceByte(std::size_t offset) {
    return offset <= Offset::portInterfaces || offset == Offset::productType ||
           offset == Offset::checksum;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

std::string hexByte(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", value & 0xFFu);
    return text;
}

std::string byteLabel(std::size_t offset) {
    return formatNumber("Byte %u", static_cast<unsigned>(offset));
}

// The words for two values of one field; where the words agree but the bytes do not (two
// non-zero driver bytes), the codes are added so that the line says what differs.
std::pair<std::string, std::string> twoTexts(const ConfigBlock& a, const ConfigBlock& b,
                                             const BlockField& field) {
    std::string first = fieldText(a, field);
    std::string second = fieldText(b, field);
    if (first == second) {
        first += formatNumber(" (code %u)", rawValue(a, field));
        second += formatNumber(" (code %u)", rawValue(b, field));
    }
    return {first, second};
}

// Calls line(label, a's words, b's words) for each field and leftover byte that differs.
template <typename Line>
void compareBlocks(const ConfigBlock& a, const ConfigBlock& b, Line line) {
    for (const BlockField& field : blockFields()) {
        if (rawValue(a, field) != rawValue(b, field)) {
            const auto texts = twoTexts(a, b, field);
            line(field.label, texts.first, texts.second);
        }
    }
    static const std::array<std::uint8_t, kBlockSize> covered = coveredBits();
    for (std::size_t offset = 0; offset < kBlockSize; ++offset) {
        if (isDeviceByte(offset)) {
            continue;
        }
        const unsigned rest = ~covered[offset] & 0xFFu;
        if ((a.byte(offset) & rest) != (b.byte(offset) & rest)) {
            line(byteLabel(offset), hexByte(a.byte(offset)), hexByte(b.byte(offset)));
        }
    }
}

}  // namespace

bool isDeviceField(std::string_view name) {
    for (const char* own : {"serialNumber", "productType", "version", "validProgram",
                            "port1.interface", "port2.interface"}) {
        if (equalsIgnoringCase(name, own)) {
            return true;
        }
    }
    return false;
}

const std::vector<BlockField>& blockFields() {
    static const std::vector<BlockField> fields = makeFields();
    return fields;
}

const BlockField* findField(std::string_view name) {
    for (const BlockField& field : blockFields()) {
        if (equalsIgnoringCase(name, field.name)) {
            return &field;
        }
    }
    return nullptr;
}

std::string fieldText(const ConfigBlock& block, const BlockField& field) {
    const unsigned raw = rawValue(block, field);
    switch (field.kind) {
        case FieldKind::List: {
            const int index = listIndex(field, raw);
            return index < 0 ? formatNumber("code %u", raw) : listOf(field).entries[index];
        }
        case FieldKind::Xon:
            return kXonWords[raw];
        case FieldKind::Driver:
            return kDriverChoices[raw != 0 ? 1 : 0];
        default:
            return formatNumber("%u", raw);
    }
}

std::string fieldJson(const ConfigBlock& block, const BlockField& field) {
    const unsigned raw = rawValue(block, field);
    if (field.kind == FieldKind::Byte || field.kind == FieldKind::Word) {
        return formatNumber("%u", raw);
    }
    if (field.kind == FieldKind::List && listIndex(field, raw) < 0) {
        return "null";
    }
    return jsonString(fieldText(block, field));
}

std::string fieldValues(const BlockField& field) {
    switch (field.kind) {
        case FieldKind::List: {
            std::string values;
            const FormListInfo& list = listOf(field);
            for (int i = 0; i < list.entryCount; ++i) {
                values += (i ? ", " : "") + std::string(list.entries[i]);
            }
            return values;
        }
        case FieldKind::Xon:
            return std::string(kXonWords[0]) + ", " + kXonWords[1];
        case FieldKind::Driver:
            return std::string(kDriverShort[0]) + " (" + kDriverChoices[0] + "), " +
                   kDriverShort[1] + " (" + kDriverChoices[1] + ")";
        case FieldKind::Byte:
            return "0 to 255";
        default:
            return "0 to 65535";
    }
}

bool setField(ConfigBlock& block, const BlockField& field, std::string_view value,
              std::string& error) {
    const std::string quoted = "\"" + std::string(value) + "\"";
    auto refuse = [&](const char* why) {
        error = quoted + why + field.name + "; its values are " + fieldValues(field);
        return false;
    };
    switch (field.kind) {
        case FieldKind::List: {
            const FormListInfo& list = listOf(field);
            for (int i = 0; i < list.entryCount; ++i) {
                if (equalsIgnoringCase(value, list.entries[i])) {
                    block.setByte(field.offset, static_cast<unsigned>(i + field.bias));
                    return true;
                }
            }
            return refuse(" is not a value of ");
        }
        case FieldKind::Xon:
            for (unsigned i = 0; i < 2; ++i) {
                if (equalsIgnoringCase(value, kXonWords[i])) {
                    const unsigned others = block.byte(field.offset) & ~(1u << field.bit);
                    block.setByte(field.offset, others | i << field.bit);
                    return true;
                }
            }
            return refuse(" is not a value of ");
        case FieldKind::Driver:
            for (unsigned i = 0; i < 2; ++i) {
                if (equalsIgnoringCase(value, kDriverChoices[i]) ||
                    equalsIgnoringCase(value, kDriverShort[i])) {
                    // As the Mode 1 dialog stores it.
                    block.setByte(field.offset, i);
                    return true;
                }
            }
            return refuse(" is not a value of ");
        default: {
            const unsigned max = field.kind == FieldKind::Byte ? 0xFFu : 0xFFFFu;
            if (value.empty() || value.find_first_not_of("0123456789") != std::string_view::npos) {
                return refuse(" is not a number for ");
            }
            unsigned long number = 0;
            for (const char digit : value) {
                number = number * 10 + static_cast<unsigned long>(digit - '0');
                if (number > max) {
                    return refuse(" is out of range for ");
                }
            }
            if (field.kind == FieldKind::Byte) {
                block.setByte(field.offset, static_cast<unsigned>(number));
            } else {
                block.setWord(field.offset, static_cast<unsigned>(number));
            }
            return true;
        }
    }
}

std::vector<std::string> storedDifferences(const ConfigBlock& sent, const ConfigBlock& held) {
    std::vector<std::string> lines;
    compareBlocks(sent, held,
                  [&](const std::string& label, const std::string& a, const std::string& b) {
                      lines.push_back(label + ": sent " + a + ", the VX310 holds " + b);
                  });
    return lines;
}

std::string notStoredText(const std::vector<std::string>& differences) {
    std::string text = kNotStoredHeading;
    for (const std::string& line : differences) {
        text += "\n" + line;
    }
    return text;
}

std::vector<std::string> plannedChanges(const ConfigBlock& current, const ConfigBlock& next) {
    std::vector<std::string> lines;
    compareBlocks(current, next,
                  [&](const std::string& label, const std::string& a, const std::string& b) {
                      lines.push_back(label + ": " + a + " -> " + b);
                  });
    return lines;
}

std::string productText(const ConfigBlock& block) {
    return block.isProg() ? "PROG" : "ADE";
}

std::string versionText(const ConfigBlock& block) {
    const auto& tag = block.versionTag;
    std::string text;
    for (const char ch : {tag[0], tag[1], '.', tag[2], tag[3]}) {
        // The tag comes from the device: keep what a terminal or a JSON reader receives plain.
        text += ch >= 0x20 && ch < 0x7F ? ch : '?';
    }
    return text;
}

std::string interfaceText(const ConfigBlock& block, int port) {
    const unsigned bit = port == 1 ? 1u : 2u;
    return block.byte(Offset::portInterfaces) & bit ? "RS422/485" : "RS232";
}

namespace {

const char* validText(const ConfigBlock& block, bool validProgram) {
    return !block.isProg() ? "N/A" : validProgram ? "YES" : "NO";
}

// The part of a field's name before the first dot; "" for a top-level field.
std::string groupOf(const BlockField& field) {
    const std::string_view name = field.name;
    const std::size_t dot = name.find('.');
    return dot == std::string_view::npos ? std::string() : std::string(name.substr(0, dot));
}

}  // namespace

std::string blockReport(const ConfigBlock& block, bool validProgram) {
    std::string text;
    text += formatNumber("Serial Number: %u\n", block.serialNumber());
    text += "Product Type: " + productText(block) + "\n";
    text += "Version: " + versionText(block) + "\n";
    text += std::string("Valid Program: ") + validText(block, validProgram) + "\n";
    std::string group;
    for (const BlockField& field : blockFields()) {
        const std::string fieldGroup = groupOf(field);
        if (fieldGroup != group) {
            group = fieldGroup;
            if (group == "port1" || group == "port2") {
                const int port = group == "port1" ? 1 : 2;
                text += formatNumber("Port %u Interface: ", static_cast<unsigned>(port)) +
                        interfaceText(block, port) + "\n";
            }
        }
        text += std::string(field.label) + ": " + fieldText(block, field) + "\n";
    }
    return text;
}

std::string blockJson(const ConfigBlock& block, bool validProgram) {
    std::string json = "{\n";
    json += formatNumber("  \"serialNumber\": %u,\n", block.serialNumber());
    json += "  \"productType\": " + jsonString(productText(block)) + ",\n";
    json += "  \"version\": " + jsonString(versionText(block)) + ",\n";
    json += std::string("  \"validProgram\": ") + (!block.isProg() ? "null"
                                                   : validProgram  ? "true"
                                                                   : "false");
    std::string group;
    bool firstInGroup = true;
    for (const BlockField& field : blockFields()) {
        const std::string fieldGroup = groupOf(field);
        if (fieldGroup != group) {
            if (!group.empty()) {
                json += "\n  }";
            }
            group = fieldGroup;
            firstInGroup = true;
            if (!group.empty()) {
                json += ",\n  " + jsonString(group) + ": {";
                if (group == "port1" || group == "port2") {
                    json += "\n    \"interface\": " +
                            jsonString(interfaceText(block, group == "port1" ? 1 : 2));
                    firstInGroup = false;
                }
            }
        }
        const std::string_view name = field.name;
        if (group.empty()) {
            json += ",\n  " + jsonString(name) + ": " + fieldJson(block, field);
        } else {
            json += std::string(firstInGroup ? "\n" : ",\n") + "    " +
                    jsonString(name.substr(group.size() + 1)) + ": " + fieldJson(block, field);
            firstInGroup = false;
        }
    }
    if (!group.empty()) {
        json += "\n  }";
    }
    json += "\n}\n";
    return json;
}

std::string jsonString(std::string_view text) {
    std::string json = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const char ch = text[i];
        const auto byte = static_cast<unsigned char>(ch);
        const std::size_t length = utf8SequenceLength(text, i);
        if (ch == '"' || ch == '\\') {
            json += '\\';
            json += ch;
        } else if (byte < 0x20 || length == 0) {
            // A byte that is not UTF-8 (a device path may hold one) keeps its value.
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            json += escape;
        } else {
            json.append(text.substr(i, length));
            i += length;
            continue;
        }
        ++i;
    }
    return json + "\"";
}

namespace {

std::string fieldNames() {
    std::string names;
    for (const BlockField& field : blockFields()) {
        names += (names.empty() ? "" : ", ") + std::string(field.name);
    }
    return names;
}

}  // namespace

bool parseAssignments(const std::vector<std::string>& texts, std::vector<FieldAssignment>& out,
                      std::string& error) {
    out.clear();
    if (texts.empty()) {
        error = "Nothing to set: give one or more FIELD=VALUE. Fields: " + fieldNames();
        return false;
    }
    for (const std::string& text : texts) {
        const std::size_t equals = text.find('=');
        if (equals == std::string::npos) {
            error = "\"" + text + "\" is not FIELD=VALUE";
            return false;
        }
        const std::string name = text.substr(0, equals);
        const BlockField* field = findField(name);
        if (!field && isDeviceField(name)) {
            error = "\"" + name + "\" is the VX310's own and cannot be set";
            return false;
        }
        if (!field) {
            error = "Unknown field \"" + name + "\". Fields: " + fieldNames();
            return false;
        }
        // The values are checked on a scratch block; the device's block takes them later.
        ConfigBlock scratch;
        if (!setField(scratch, *field, text.substr(equals + 1), error)) {
            return false;
        }
        out.push_back({field, text.substr(equals + 1)});
    }
    return true;
}

bool applyAssignments(ConfigBlock& block, const std::vector<FieldAssignment>& assignments,
                      std::string& error) {
    for (const FieldAssignment& assignment : assignments) {
        if (assignment.field->kind == FieldKind::Driver &&
            !(block.byte(Offset::portInterfaces) & 1)) {
            // The Mode 1 dialog greys the choice out for an RS232 port.
            error = std::string(assignment.field->name) +
                    " applies only when Port 1 is RS422/485; this unit's is RS232";
            return false;
        }
        if (!setField(block, *assignment.field, assignment.value, error)) {
            return false;
        }
    }
    return true;
}
