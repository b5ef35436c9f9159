#ifndef OUTPUTTARGET_H
#define OUTPUTTARGET_H

#include <QByteArray>
#include <QString>
#include <QStringList>

// The file a package is written to. It is written only where nothing can be
// damaged: a path that does not exist yet, or, with --force, an existing
// regular file. Devices, FIFOs, sockets and folders are never written over
// (the write goes through a temporary file renamed into place, which would
// replace them), and neither is any of the command's own inputs.
class OutputTarget
{
public:
    OutputTarget(const QString& path, bool force);

    // Why the output must not be written; empty when it may. inputs: the
    // files the command reads (key, archive), which it must not replace.
    QString refusal(const QStringList& inputs) const;

    // Whether the output lies at this path (links in the folders resolved):
    // a package written into the folder being packed is left out of it.
    bool isAt(const QString& absolutePath) const;

    // Writes the bytes through a temporary file renamed into place.
    bool write(const QByteArray& bytes, QString* error) const;

    QString path() const;

private:
    QString canonicalLocation() const;

    QString m_path;
    bool m_force;
};

#endif
