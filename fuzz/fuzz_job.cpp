// Job files: any bytes give a job or a refusal with its reason, never a crash or a wait; a
// job that loads names each file with a whole fingerprint and holds only FIELD=VALUE sets.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "station/Job.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int fd = ::memfd_create("job", 0);
    if (fd < 0) {
        return 0;
    }
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    std::string error;
    int code = 0;
    const std::optional<Job> job = loadJob("/proc/self/fd/" + std::to_string(fd), error, code);
    ::close(fd);
    if (!job) {
        FUZZ_CHECK(!error.empty() && code != 0);
        return 0;
    }
    FUZZ_CHECK(code == 0 && job->sha256.size() == 64);
    for (const JobFile* file : {&job->config, &job->plan, &job->program}) {
        FUZZ_CHECK(!file->given() || file->sha256.size() == 64);
    }
    for (const std::string& assignment : job->sets) {
        FUZZ_CHECK(assignment.find('=') != std::string::npos);
    }
    for (const std::string& field : job->unique) {
        FUZZ_CHECK(!field.empty() && field.find(',') == std::string::npos);
    }
    return 0;
}
