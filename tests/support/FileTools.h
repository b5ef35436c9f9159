#ifndef FILETOOLS_H
#define FILETOOLS_H

#include <QByteArray>
#include <QString>

// Whole files written and read by the tests.
namespace FileTools {

// Writes content to path, replacing the file and creating the folders it
// needs; false on failure.
bool writeFile(const QString& path, const QByteArray& content);

// The bytes of the file, or "<unreadable>" when it cannot be read, which
// no test file holds, so that a missing file never passes for an empty one.
QByteArray readFile(const QString& path);

} // namespace FileTools

#endif
