#ifndef FILEKIND_H
#define FILEKIND_H

#include <QString>

// Names what lies at a path when it is neither a regular file nor a folder,
// for messages: "a device", "a FIFO", "a socket" (links followed).
class FileKind
{
public:
    static QString describe(const QString& path);
};

#endif
