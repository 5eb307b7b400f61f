#pragma once

#include <optional>
#include <string>
#include <vector>

#include "station/Plan.h"

// A production job: everything a unit gets, fixed in one file so that nobody runs the wrong
// configuration, plan or program. The job file is an INI file; the files it names are given
// relative to it and kept with their SHA-256, so that a file changed after the job was made
// is refused before any unit is touched.

// What `job new` was given; paths as the user typed them.
struct JobRequest {
    std::string name;
    std::string config;               // a .vxc loaded on every unit
    std::vector<std::string> sets;    // FIELD=VALUE on top of it, for every unit
    std::string plan;                 // each unit's own values, by serial number
    std::string program;              // an Intel HEX program, uploaded after the configuration
    std::vector<std::string> unique;  // fields no two units may share
};

struct JobFile {
    std::string path;    // as the job file holds it: relative to the job's folder
    std::string sha256;  // of the file's bytes when the job was made
    bool given() const { return !path.empty(); }
};

struct Job {
    std::string file;    // the job file itself
    std::string sha256;  // of the job file's bytes: the job's identity in the history
    std::string name;
    std::string created;  // ISO time, UTC
    JobFile config;
    JobFile plan;
    JobFile program;
    std::vector<std::string> sets;
    std::vector<std::string> unique;
};

// A job's files as they are now, read once, each checked against its fingerprint.
struct JobInputs {
    std::string config;   // the .vxc's bytes
    std::string program;  // the HEX file's bytes
    std::optional<Plan> plan;
};

// Checks the request in full and writes the job file. False with the reason, which names the
// plan lines at fault; code: the exit status (a missing file 4, anything else 1).
bool createJob(const std::string& jobFile, const JobRequest& request, std::string& error,
               int& code);

// Reads a job file; nothing, with the reason and exit status, for a file that is no job.
std::optional<Job> loadJob(const std::string& jobFile, std::string& error, int& code);

// A named file's path, to be opened: resolved against the job's folder.
std::string jobFilePath(const Job& job, const JobFile& file);

// Reads and checks every file the job names. False, naming the file, when one is missing or
// no longer matches its fingerprint (code 4), or no longer checks out.
bool readJobInputs(const Job& job, JobInputs& inputs, std::string& error, int& code);

// `job show`: the job in words, with the state of each file's fingerprint; ok false when a
// file is missing or changed.
std::string describeJob(const Job& job, bool& ok);
