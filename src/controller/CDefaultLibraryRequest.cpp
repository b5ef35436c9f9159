// Reading the host's request and context.

#include "CDefaultLibrary.h"

#include "RequestPlatform.h"
#include "logging/Log.h"
#include "module/ResultTexts.h"

namespace {

QMap<QString, QString>& languageTable()
{
    static QMap<QString, QString> table;
    return table;
}

} // namespace

void CDefaultLibrary::setUpdateParametersFromRequest(const QMap<QByteArray, QByteArray>& request)
{
    setUpdateParametersFromRequestForWindows(request);
    if (m_downloadFileUrl.isEmpty())
        m_downloadFileUrl = request.value("url", QByteArray());
    LOG_UPDATER(INFO) << "CDefaultLibrary::setUpdateParametersFromRequest :: m_downloadFileUrl="
                      << QString::fromUtf8(m_downloadFileUrl);
}

// The host names the package URL with the Windows keys first; the choice is
// by emptiness only.
void CDefaultLibrary::setUpdateParametersFromRequestForWindows(const QMap<QByteArray, QByteArray>& request)
{
    LOG_UPDATER(INFO) << "CDefaultLibrary::setUpdateParametersFromRequestForWindows :: "
                      << RequestPlatform::detectedPlatformText();
    m_downloadFileUrl = request.value("url_win32", QByteArray());
    if (m_downloadFileUrl.isEmpty())
        m_downloadFileUrl = request.value("url_win", QByteArray());
}

bool CDefaultLibrary::verifyDownloadFileUrl()
{
    if (m_downloadFileUrl.isEmpty()) {
        LOG_UPDATER(WARN) << "CDefaultLibrary::verifyDownloadFileUrl :: Insufficient parameters - download url.";
        m_result = ResultTexts::insufficientParameters();
        return false;
    }
    if (m_downloadFileUrl.startsWith("https://"))
        return true;
    LOG_UPDATER(WARN) << "CDefaultLibrary::verifyDownloadFileUrl :: Invalid download url '"
                      << QString::fromUtf8(m_downloadFileUrl) << "'";
    m_result = ResultTexts::insufficientParameters();
    return false;
}

QString CDefaultLibrary::getLanguageSuffix(const QMap<QByteArray, QVariant>& context)
{
    QMap<QString, QString>& table = languageTable();
    table.insert(QStringLiteral("0"), QStringLiteral("pl"));
    table.insert(QStringLiteral("1"), QStringLiteral("en"));
    table.insert(QStringLiteral("2"), QStringLiteral("hr"));

    const QString id = context.value("languageId", QVariant()).toString();
    const QString suffix = table.value(id, QString());
    LOG_UPDATER(INFO) << "CDefaultLibrary::getLanguageSuffix :: oLanguageSuffix=" << suffix;
    return suffix;
}
