#include "CDefaultLibrary.h"

#include "logging/UpdaterLogger.h"
#include "module/DllResultSingle.h"
#include "module/ResultTexts.h"

CDefaultLibrary::CDefaultLibrary(QObject* parent)
    : QObject(parent)
    , m_networkError(false)
    , m_fileOversized(false)
    , m_networkErrorCode(0)
    , m_result(ResultTexts::fileUpdated())
    , m_progress(QMap<QByteArray, QVariant>())
    , m_installation(QDir::current())
    , m_packageFile(m_tempFile)
    , m_download({this, m_NetManager, m_reply, m_networkError, m_fileOversized, m_networkErrorCode}, m_packageFile,
                 m_progress, m_installation.updatesFolder())
{
    m_installation.setProgress(&m_progress);
}

// Members go in reverse order of declaration: the download and the package
// file, the installation (rolling back what it did not commit), the reply
// before its manager, then the temporary file (closed and removed). What the
// call logged is in the file once it is over.
CDefaultLibrary::~CDefaultLibrary()
{
    UpdaterLogger::flushIfCreated();
}

QByteArray CDefaultLibrary::GetModuleVersion(const QMap<QByteArray, QByteArray>&, const QMap<QByteArray, QVariant>&)
{
    return DllResultSingle(0, QString::fromLatin1(ResultTexts::ModuleVersion)).serialize();
}
