// Judgement of the download's outcome.

#include "controller/CDefaultLibrary.h"

#include "module/ResultTexts.h"

bool CDefaultLibrary::handleDownloadErrors()
{
    if (m_fileOversized) {
        handleFileIsOversizedError();
        return false;
    }
    if (m_tempFile.size() > 0)
        return true;
    m_result = ResultTexts::fileSystemError();
    return false;
}

void CDefaultLibrary::handleNetworkProxyErrors()
{
}

void CDefaultLibrary::handleConnectionErrors()
{
}

void CDefaultLibrary::handleFileIsOversizedError()
{
    m_result = ResultTexts::fileOversized();
}

void CDefaultLibrary::handleNetworkError(QNetworkReply::NetworkError)
{
}

void CDefaultLibrary::handleSSLErrors(QList<QSslError>)
{
}

void CDefaultLibrary::handleSSLError(QSslError)
{
}
