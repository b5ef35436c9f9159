// Judgement of the download's outcome, and the slots that record network
// and TLS errors while the download runs.

#include "controller/CDefaultLibrary.h"

#include <QSslCertificate>

#include "logging/Log.h"
#include "module/ResultTexts.h"

namespace {

// Errors of the network, the proxy or the TLS layer, as opposed to errors
// reported by the server about the content. A redirect that is not followed
// (too many, a loop: 10; not https: 11) is the server's answer too.
bool isNetworkProxyError(int code)
{
    if (code >= 101 && code <= 199)
        return true;
    if (code == 202)
        return true;
    if (code == QNetworkReply::TooManyRedirectsError || code == QNetworkReply::InsecureRedirectError)
        return false;
    return code >= 1 && code <= 99;
}

// The details of results 45 and 47; never contains the result separator.
// ownText: the module's own text of the error, in place of the reply's.
QString networkErrorDetails(const QNetworkReply* reply, int code, const QString& ownText)
{
    if (!reply && ownText.isEmpty())
        return QStringLiteral("[%1]").arg(code);
    QString text = ownText.isEmpty() ? reply->errorString() : ownText;
    text.replace(QLatin1Char('|'), QLatin1String("<PIPE>"));
    return QStringLiteral("[%1] %2").arg(code).arg(text);
}

} // namespace

bool CDefaultLibrary::handleDownloadErrors()
{
    if (m_networkError) {
        if (isNetworkProxyError(m_networkErrorCode))
            handleNetworkProxyErrors();
        else
            handleConnectionErrors();
        return false;
    }
    if (m_fileOversized) {
        handleFileIsOversizedError();
        return false;
    }
    // Writes are buffered: the last ones may only fail when the file is
    // closed, which leaves the error on the file (a full disk as a resource
    // error, anything else as a write error).
    const QFileDevice::FileError closeError = m_packageFile.error();
    const bool closeFailed = closeError == QFileDevice::WriteError || closeError == QFileDevice::ResourceError;
    if (m_packageFile.writeFailed() || closeFailed) {
        LOG_UPDATER(WARN) << "CDefaultLibrary::handleDownloadErrors :: Downloaded file could not be written."
                          << (closeFailed ? QStringLiteral(" ") + m_packageFile.errorString() : QString());
        m_result = ResultTexts::fileSystemError();
        return false;
    }
    if (m_packageFile.size() > 0)
        return true;
    LOG_UPDATER(WARN) << "CDefaultLibrary::handleDownloadErrors :: Downloaded file is empty.";
    m_result = ResultTexts::fileSystemError();
    return false;
}

void CDefaultLibrary::handleNetworkProxyErrors()
{
    LOG_UPDATER(WARN) << "CDefaultLibrary::handleNetworkProxyErrors :: Network/Proxy error occurred.";
    m_result = ResultTexts::networkProxyError(networkErrorDetails(m_reply.get(), m_networkErrorCode, m_download.errorString()));
}

void CDefaultLibrary::handleConnectionErrors()
{
    LOG_UPDATER(WARN) << "CDefaultLibrary::handleConnectionErrors :: Connection error occurred.";
    m_result = ResultTexts::connectionError(networkErrorDetails(m_reply.get(), m_networkErrorCode, m_download.errorString()));
}

void CDefaultLibrary::handleFileIsOversizedError()
{
    LOG_UPDATER(WARN) << "CDefaultLibrary::handleFileIsOversizedError :: File is oversized error occurred.";
    m_result = ResultTexts::fileOversized();
}

void CDefaultLibrary::handleNetworkError(QNetworkReply::NetworkError networkError)
{
    const QString text = m_reply ? m_reply->errorString() : QString();
    LOG_UPDATER(WARN) << "CDefaultLibrary::handleNetworkError :: Connection error occurred: ["
                      << static_cast<int>(networkError) << "][" << text << "]";
    m_networkErrorCode = networkError;
    m_networkError = true;
}

void CDefaultLibrary::handleSSLErrors(QList<QSslError> errors)
{
    for (const QSslError& error : errors)
        handleSSLError(error);
}

void CDefaultLibrary::handleSSLError(QSslError error)
{
    const QSslCertificate certificate = error.certificate();
    const QString issuerNames = certificate.issuerInfo(QSslCertificate::CommonName).join(QLatin1Char('|'));
    const QString subjectNames = certificate.subjectInfo(QSslCertificate::CommonName).join(QLatin1Char('|'));
    LOG_UPDATER(WARN) << "CDefaultLibrary::handleSSLError :: Ssl error occurred: [" << static_cast<int>(error.error())
                      << "][" << error.errorString() << "], issuerCN: " << issuerNames
                      << ", subjectCN: " << subjectNames;
}
