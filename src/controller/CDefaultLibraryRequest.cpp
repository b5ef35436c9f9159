// Reading the host's request and context.

#include "CDefaultLibrary.h"

#include "RequestPlatform.h"
#include "logging/Log.h"
#include "module/ResultTexts.h"

#include <algorithm>

namespace {

// The URL as it may go into the log: control characters (a line break could
// forge a log line) and what is not printable ASCII percent-encoded, the
// characters of a URL as they are.
QString printableUrl(const QByteArray& url)
{
    return QString::fromLatin1(url.toPercentEncoding(":/?#[]@!$&'()*+,;=%"));
}

// The caller context's language ids and the suffixes of the translations.
const QMap<QString, QString>& languageTable()
{
    static const QMap<QString, QString> table = {
        {QStringLiteral("0"), QStringLiteral("pl")},
        {QStringLiteral("1"), QStringLiteral("en")},
        {QStringLiteral("2"), QStringLiteral("hr")},
    };
    return table;
}

} // namespace

void CDefaultLibrary::setUpdateParametersFromRequest(const QMap<QByteArray, QByteArray>& request)
{
    setUpdateParametersFromRequestForWindows(request);
    if (m_downloadFileUrl.isEmpty())
        m_downloadFileUrl = request.value("url", QByteArray());
    LOG_UPDATER(INFO) << "CDefaultLibrary::setUpdateParametersFromRequest :: m_downloadFileUrl="
                      << printableUrl(m_downloadFileUrl);
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
    // A NUL or another control character would cut the address short or
    // change its meaning on its way to the network (and to the log).
    const bool hasControlCharacter = std::any_of(m_downloadFileUrl.cbegin(), m_downloadFileUrl.cend(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
    });
    if (m_downloadFileUrl.startsWith("https://") && !hasControlCharacter)
        return true;
    LOG_UPDATER(WARN) << "CDefaultLibrary::verifyDownloadFileUrl :: Invalid download url '"
                      << printableUrl(m_downloadFileUrl) << "'"
                      << (hasControlCharacter ? " (it holds a control character)" : "");
    m_result = ResultTexts::insufficientParameters();
    return false;
}

QString CDefaultLibrary::getLanguageSuffix(const QMap<QByteArray, QVariant>& context)
{
    const QString id = context.value("languageId", QVariant()).toString();
    const QString suffix = languageTable().value(id, QString());
    LOG_UPDATER(INFO) << "CDefaultLibrary::getLanguageSuffix :: oLanguageSuffix=" << suffix;
    return suffix;
}
