#include "CDefaultLibrary.h"

#include "installation/InstallationTransaction.h"

#include "module/DllResultSingle.h"
#include "module/ResultTexts.h"

CDefaultLibrary::CDefaultLibrary(QObject* parent)
    : QObject(parent)
    , m_networkError(false)
    , m_fileOversized(false)
    , m_networkErrorCode(0)
    , m_result(ResultTexts::fileUpdated())
    , m_downloadedSize(0)
    , m_fileWriteFailed(false)
{
}

// Members go in reverse order of declaration: the reply before its manager,
// then the temporary file (closed and removed).
CDefaultLibrary::~CDefaultLibrary() = default;

QByteArray CDefaultLibrary::GetModuleVersion(const QMap<QByteArray, QByteArray>&, const QMap<QByteArray, QVariant>&)
{
    return DllResultSingle(0, QString::fromLatin1(ResultTexts::ModuleVersion)).serialize();
}
