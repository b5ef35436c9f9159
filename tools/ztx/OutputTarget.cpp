#include "OutputTarget.h"

#include "FileKind.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

OutputTarget::OutputTarget(const QString& path, bool force)
    : m_path(path)
    , m_force(force)
{
}

QString OutputTarget::path() const
{
    return m_path;
}

// The output's absolute path with the folders' links resolved (the output
// itself need not exist).
QString OutputTarget::canonicalLocation() const
{
    const QFileInfo info(m_path);
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    if (folder.isEmpty())
        return QString();
    return QDir(folder).filePath(info.fileName());
}

bool OutputTarget::isAt(const QString& absolutePath) const
{
    const QString location = canonicalLocation();
    return !location.isEmpty() && location == absolutePath;
}

QString OutputTarget::refusal(const QStringList& inputs) const
{
    const QFileInfo info(m_path);
    if (m_path.isEmpty() || m_path.endsWith(QLatin1Char('/')) || info.fileName().isEmpty())
        return QStringLiteral("the output %1 names no file").arg(m_path);
    if (!QFileInfo(info.absolutePath()).isDir())
        return QStringLiteral("the folder of the output %1 does not exist").arg(m_path);
    // QFileInfo follows links: what counts is what the write would replace.
    if (info.isSymLink() && !info.exists())
        return QStringLiteral("the output %1 is a symbolic link to nothing; not written through it").arg(m_path);
    if (info.isDir())
        return QStringLiteral("the output %1 is a folder; give a file name").arg(m_path);
    if (info.exists() && !info.isFile())
        return QStringLiteral("the output %1 is %2, not a regular file; it is never written over")
            .arg(m_path, FileKind::describe(m_path));
    if (info.exists()) {
        const QString target = info.canonicalFilePath();
        for (const QString& input : inputs) {
            if (!input.isEmpty() && QFileInfo(input).canonicalFilePath() == target)
                return QStringLiteral("the output %1 is the input %2; it is never written over").arg(m_path, input);
        }
        if (!m_force)
            return QStringLiteral("the output %1 exists; give --force to replace it").arg(m_path);
    }
    return QString();
}

bool OutputTarget::write(const QByteArray& bytes, QString* error) const
{
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(m_path, file.errorString());
        return false;
    }
    return true;
}
