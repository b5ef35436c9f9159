#include "DownloadRun.h"

#include <QFile>

#include "controller/CDefaultLibrary.h"

DownloadOutcome runDownload(const QString& url, const QByteArray& proxySettings)
{
    DownloadOutcome outcome;
    CDefaultLibrary library;
    library.m_downloadFileUrl = url.toUtf8();
    if (!library.m_tempFile.open())
        return outcome;
    library.downloadFile(proxySettings);
    library.m_tempFile.close();
    QFile file(library.m_tempFile.fileName());
    if (file.open(QIODevice::ReadOnly))
        outcome.fileBytes = file.readAll();
    outcome.passed = library.handleDownloadErrors();
    outcome.code = library.m_result.code();
    outcome.details = library.m_result.details();
    outcome.networkErrorCode = library.m_networkErrorCode;
    return outcome;
}
