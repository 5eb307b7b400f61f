#pragma once

// vxconf-cli's exit status: what went wrong, from the kind of the notice raised, never from
// its words.
enum CliExit {
    kExitOk = 0,
    kExitUsage = 1,        // a bad command line, a refused value, a question answered No
    kExitDevice = 2,       // the port did not open or the device did not answer as it should
    kExitMismatch = 3,     // the device did not store what was sent
    kExitFile = 4,         // a file could not be read or written
    kExitProvisioned = 5,  // under a job: the unit had been provisioned by it already
};

// A run stopped by a signal ends with 128 + its number, as a shell reports it.
inline constexpr int kExitSignalBase = 128;

inline constexpr char kProvisionedWord[] = "already provisioned";

// "ok", "mismatch", "already provisioned" or "error": a run's result in the record and the
// unit objects.
inline const char* resultWord(int exitCode) {
    return exitCode == kExitOk            ? "ok"
           : exitCode == kExitMismatch    ? "mismatch"
           : exitCode == kExitProvisioned ? kProvisionedWord
                                          : "error";
}

// Of two units' exit codes, the one a run on both ends with: any failure outweighs a unit
// that had been provisioned already, which outweighs success.
inline int worseExit(int a, int b) {
    const auto weight = [](int code) {
        return code == kExitProvisioned ? 1 : code == 0 ? 0 : code + 1;
    };
    return weight(a) >= weight(b) ? a : b;
}
