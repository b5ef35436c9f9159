#ifndef EXITCODE_H
#define EXITCODE_H

// What ztx's exit status tells a script. Listed in every --help text and in
// the README; keep the three in step.
enum ExitCode {
    Success = 0,
    // No signature trailer, or a signature that does not verify with the key.
    VerificationFailed = 1,
    // Unknown command or option, missing or surplus arguments.
    UsageError = 2,
    // Input that clients would refuse (size, entries, an empty package), a key
    // unfit for signing, or an output that must not be written over.
    Refused = 3,
    // A file could not be read or written, or key generation failed.
    Failure = 4
};

#endif
