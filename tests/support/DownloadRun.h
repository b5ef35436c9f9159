#ifndef DOWNLOADRUN_H
#define DOWNLOADRUN_H

#include <QByteArray>
#include <QString>

// What one download left behind, as the update flow would judge it.
struct DownloadOutcome {
    bool passed = false;
    int code = -1;
    QString details;
    int networkErrorCode = 0;
    QByteArray fileBytes;
};

// One download through the Update flow's own first half (URL from the
// request, temporary file, download), then judged as the flow judges it.
DownloadOutcome runDownload(const QString& url, const QByteArray& proxySettings = QByteArray());

#endif
