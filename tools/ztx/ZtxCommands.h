#ifndef ZTXCOMMANDS_H
#define ZTXCOMMANDS_H

#include <QString>
#include <QStringList>

// The commands of ztx, each returning its exit code (ExitCode). The command
// line has been parsed by then; what is missing or surplus is reported as a
// usage error here.
class ZtxCommands
{
public:
    struct Options {
        QStringList positional;
        QString key;
        QString output;
        bool force = false;
        bool allowOtherKey = false;
        bool verbose = false;
        bool json = false;
    };

    static int keygen(const Options& options);
    static int pack(const Options& options);
    static int sign(const Options& options);
    static int verify(const Options& options);
    static int inspect(const Options& options);
    // Version and the fingerprint of the key built into this module.
    static int version();
};

#endif
