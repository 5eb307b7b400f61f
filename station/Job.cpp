#include "Job.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>

#include "cli/CliSession.h"
#include "cli/CsvLog.h"
#include "cli/ExitStatus.h"
#include "cli/Terminal.h"
#include "editor/BlockFields.h"
#include "platform/FileRead.h"
#include "platform/FileWrite.h"
#include "platform/Profile.h"
#include "platform/Sha256.h"

namespace fs = std::filesystem;

namespace {

constexpr char kJobSection[] = "Job";
constexpr char kSetSection[] = "Set";
constexpr std::size_t kMaxJobBytes = 64 * 1024;

struct Role {
    const char* key;  // Config, Plan, Program
    JobFile Job::*file;
};
const Role kRoles[] = {{"Config", &Job::config}, {"Plan", &Job::plan}, {"Program", &Job::program}};

std::string folderOf(const std::string& path) {
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? "." : parent.string();
}

std::string joinedWords(const std::vector<std::string>& words, const char* between) {
    std::string text;
    for (const std::string& word : words) {
        text += (text.empty() ? "" : between) + word;
    }
    return text;
}

std::vector<std::string> splitWords(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    for (const char c : text + ",") {
        if (c == ',' || c == ' ') {
            if (!word.empty()) {
                words.push_back(word);
            }
            word.clear();
        } else {
            word += c;
        }
    }
    return words;
}

// Reads one of the job's files and checks it as the command that uses it would: bytes are
// exactly what was checked, so the fingerprint is of what the units get.
bool readChecked(const std::string& role, const std::string& path, JobInputs& inputs,
                 std::string& bytes, std::string& error, int& code) {
    // A job names files, never a pipe or a device: reading one could wait for ever, and
    // its bytes would not be the ones fingerprinted.
    struct stat info {};
    const bool found = ::stat(path.c_str(), &info) == 0;
    if (!found || !S_ISREG(info.st_mode)) {
        code = kExitFile;
        error = "Unable to open file: \"" + path + "\"? (" +
                (found ? kNotRegularReason : std::strerror(errno)) + ")";
        return false;
    }
    if (role == "Config") {
        CommandInput input = readCommandInput(CliCommand::Load, path);
        code = input.code;
        error = input.message;
        bytes = input.bytes;
        inputs.config = input.bytes;
    } else if (role == "Program") {
        CommandInput input = readCommandInput(CliCommand::Upload, path);
        code = input.code;
        error = input.message;
        bytes = input.bytes;
        inputs.program = input.bytes;
    } else {
        code = kExitUsage;
        inputs.plan = Plan::load(path, error, code, &bytes);
        code = inputs.plan ? kExitOk : code;
    }
    return code == kExitOk;
}

// The rules that make a job safe to run, on its contents as read.
bool checkRules(const std::vector<std::string>& sets, const std::vector<std::string>& unique,
                const std::optional<Plan>& plan, std::string& error) {
    std::vector<FieldAssignment> common;
    if (!sets.empty() && !parseAssignments(sets, common, error)) {
        error = "--set: " + error;
        return false;
    }
    for (const std::string& name : unique) {
        const BlockField* field = findField(name);
        if (field == nullptr) {
            error = "--unique: unknown field \"" + name + "\"";
            return false;
        }
        for (const FieldAssignment& assignment : common) {
            if (assignment.field == field) {
                error = "--unique " + name + ": --set gives every unit the same value (" +
                        assignment.value + ")";
                return false;
            }
        }
        bool planned = false;
        for (const std::string& column : plan ? plan->fields() : std::vector<std::string>{}) {
            planned = planned || findField(column) == field;
        }
        if (!planned) {
            error = "--unique " + name + ": the plan gives no unit its own " + name +
                    ", so every unit would get the same value";
            return false;
        }
        // Two units with one value: each value in the field's own words, so "7" and "07" are
        // one address.
        std::map<std::string, unsigned> owner;
        std::string clashes;
        for (const auto& [serial, row] : plan->rows()) {
            std::vector<FieldAssignment> values;
            std::string why;
            (void)parseAssignments(row, values, why);
            for (const FieldAssignment& value : values) {
                if (value.field != field) {
                    continue;
                }
                ConfigBlock block{};
                (void)setField(block, *field, value.value, why);
                const std::string text = fieldText(block, *field);
                const auto [first, fresh] = owner.emplace(text, serial);
                if (!fresh) {
                    clashes += "\nplan lines " + std::to_string(plan->lineOf(first->second)) +
                               " and " + std::to_string(plan->lineOf(serial)) +
                               ": serial numbers " + std::to_string(first->second) + " and " +
                               std::to_string(serial) + " both get " + field->name + "=" + text;
                }
            }
        }
        if (!clashes.empty()) {
            error = "--unique " + name + ": two units would get one value" + clashes;
            return false;
        }
    }
    return true;
}

}  // namespace

std::string jobFilePath(const Job& job, const JobFile& file) {
    const fs::path path(file.path);
    return (path.is_absolute() ? path : fs::absolute(fs::path(folderOf(job.file)) / path))
        .lexically_normal()
        .string();
}

bool createJob(const std::string& jobFile, const JobRequest& request, std::string& error,
               int& code) {
    code = kExitUsage;
    if (request.config.empty() && request.sets.empty() && request.plan.empty() &&
        request.program.empty()) {
        error = "A job needs --config, --set, --plan or --program";
        return false;
    }
    for (const char c : request.name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            error = "--name: a job's name is one line of text";
            return false;
        }
    }
    const fs::path jobFolder = fs::absolute(fs::path(folderOf(jobFile))).lexically_normal();
    JobInputs inputs;
    std::string text;
    const auto put = [&](const std::string& section, const std::string& key,
                         const std::string& value) {
        const std::optional<std::string> next = profileTextWith(text, section, key, value);
        if (!next) {
            error = "\"" + value + "\" cannot be kept in a job file";
            return false;
        }
        text = *next;
        return true;
    };
    if (!put(kJobSection, "Name",
             request.name.empty() ? fs::path(jobFile).stem().string() : request.name) ||
        !put(kJobSection, "Created", isoTimeUtc(std::time(nullptr))) ||
        !put(kJobSection, "Tool", std::string("vxconf-cli ") + VXCONF_VERSION)) {
        return false;
    }
    const std::pair<const char*, const std::string*> files[] = {
        {"Config", &request.config}, {"Plan", &request.plan}, {"Program", &request.program}};
    for (const auto& [role, given] : files) {
        if (given->empty()) {
            continue;
        }
        std::string bytes;
        if (!readChecked(role, *given, inputs, bytes, error, code)) {
            return false;
        }
        const fs::path absolute = fs::absolute(fs::path(*given)).lexically_normal();
        const std::string stored = absolute.lexically_relative(jobFolder).string();
        if (!put(kJobSection, role, stored.empty() ? absolute.string() : stored) ||
            !put(kJobSection, std::string(role) + "Sha256", sha256Hex(bytes))) {
            return false;
        }
    }
    code = kExitUsage;
    if (!checkRules(request.sets, request.unique, inputs.plan, error)) {
        return false;
    }
    if (!request.unique.empty() && !put(kJobSection, "Unique", joinedWords(request.unique, ","))) {
        return false;
    }
    for (const std::string& assignment : request.sets) {
        const std::size_t equals = assignment.find('=');
        if (!put(kSetSection, assignment.substr(0, equals), assignment.substr(equals + 1))) {
            return false;
        }
    }
    if (!text.empty() && text.back() != '\n') {
        text += text.find("\r\n") == std::string::npos ? "\n" : "\r\n";
    }
    if (!writeProfileText(jobFile, text)) {
        code = kExitFile;
        error = "Unable to write file: \"" + jobFile + "\"?";
        return false;
    }
    code = kExitOk;
    return true;
}

std::optional<Job> loadJob(const std::string& jobFile, std::string& error, int& code) {
    code = kExitFile;
    std::string bytes;
    bool tooLarge = false;
    const FileRead read = readFileStart(jobFile, {kMaxJobBytes, true, &tooLarge, false}, bytes);
    if (read != FileRead::Ok) {
        error = "Unable to open file: \"" + jobFile + "\"?";
        return std::nullopt;
    }
    code = kExitUsage;
    const ProfileFile profile(bytes);
    Job job;
    job.file = jobFile;
    job.sha256 = sha256Hex(bytes);
    const std::optional<std::string> name = profile.value(kJobSection, "Name");
    if (tooLarge || !name) {
        error = "\"" + jobFile + "\" is not a VXCONF job";
        return std::nullopt;
    }
    job.name = *name;
    job.created = profile.value(kJobSection, "Created").value_or("");
    for (const Role& role : kRoles) {
        JobFile& file = job.*role.file;
        file.path = profile.value(kJobSection, role.key).value_or("");
        file.sha256 = profile.value(kJobSection, std::string(role.key) + "Sha256").value_or("");
        if (file.given() && file.sha256.size() != 64) {
            error = "\"" + jobFile + "\": " + role.key + " has no fingerprint";
            return std::nullopt;
        }
    }
    for (const auto& [section, key] : profile.keys()) {
        if (section.size() == 3 && std::tolower(static_cast<unsigned char>(section[0])) == 's' &&
            std::tolower(static_cast<unsigned char>(section[1])) == 'e' &&
            std::tolower(static_cast<unsigned char>(section[2])) == 't') {
            job.sets.push_back(key + "=" + profile.value(section, key).value_or(""));
        }
    }
    job.unique = splitWords(profile.value(kJobSection, "Unique").value_or(""));
    if (!job.config.given() && !job.plan.given() && !job.program.given() && job.sets.empty()) {
        error = "\"" + jobFile + "\" gives the units nothing";
        return std::nullopt;
    }
    code = kExitOk;
    return job;
}

bool readJobInputs(const Job& job, JobInputs& inputs, std::string& error, int& code) {
    for (const Role& role : kRoles) {
        const JobFile& file = job.*role.file;
        if (!file.given()) {
            continue;
        }
        const std::string path = jobFilePath(job, file);
        std::string bytes;
        if (!readChecked(role.key, path, inputs, bytes, error, code)) {
            error = "The job's file \"" + path + "\" will not do: " + error +
                    "\nNothing was sent to any unit";
            code = kExitFile;
            return false;
        }
        if (sha256Hex(bytes) != file.sha256) {
            error = "The job's file \"" + path +
                    "\" has changed since the job was made: nothing was sent to any unit";
            code = kExitFile;
            return false;
        }
    }
    code = kExitUsage;
    if (!checkRules(job.sets, job.unique, inputs.plan, error)) {
        error = "\"" + job.file + "\": " + error;
        return false;
    }
    code = kExitOk;
    return true;
}

std::string describeJob(const Job& job, bool& ok) {
    ok = true;
    std::string text = "Job:      " + job.name + "\n";
    text += "File:     " + job.file + "\n";
    text += "SHA-256:  " + job.sha256 + "\n";
    if (!job.created.empty()) {
        text += "Created:  " + job.created + "\n";
    }
    for (const Role& role : kRoles) {
        const JobFile& file = job.*role.file;
        if (!file.given()) {
            continue;
        }
        const std::string path = jobFilePath(job, file);
        JobInputs inputs;
        std::string bytes;
        std::string why;
        int code = kExitOk;
        std::string state;
        if (!readChecked(role.key, path, inputs, bytes, why, code)) {
            state = "will not do: " + why;
        } else if (sha256Hex(bytes) != file.sha256) {
            state = "CHANGED since the job was made";
        } else {
            state = "ok";
        }
        ok = ok && state == "ok";
        text += std::string(role.key) + ":" +
                std::string(10 - std::string(role.key).size() - 1, ' ') + file.path + " (" + state +
                ")\n";
        if (role.file == &Job::plan && inputs.plan) {
            text += "          " + std::to_string(inputs.plan->size()) +
                    " units: " + joinedWords(inputs.plan->fields(), ", ") + "\n";
        }
    }
    for (const std::string& assignment : job.sets) {
        text += "Set:      " + assignment + "\n";
    }
    if (!job.unique.empty()) {
        text += "Unique:   " + joinedWords(job.unique, ", ") + "\n";
    }
    return terminalText(text, true);
}
