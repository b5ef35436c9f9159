// Judgement of a finished download: which recorded state gives which result.

#include <QtTest>

#include "controller/CDefaultLibraryTestAccess.h"
#include "module/ResultTexts.h"
#include "support/LogFile.h"

class TestDownloadErrors : public QObject
{
    Q_OBJECT

private slots:
    void judgesRecordedState_data();
    void judgesRecordedState();
    void networkErrorSlotRecordsLastError();
};

void TestDownloadErrors::judgesRecordedState_data()
{
    QTest::addColumn<bool>("networkError");
    QTest::addColumn<int>("errorNumber");
    QTest::addColumn<bool>("oversized");
    QTest::addColumn<QByteArray>("fileContent");
    QTest::addColumn<QByteArray>("result"); // empty: the download passes, the result stays

    // Without a reply there is no error text to add to the number.
    const int networkProxy[] = {1, 2, 3, 4, 5, 6, 7, 99, 101, 102, 105, 199, 202};
    const int connection[] = {0, 10, 11, 100, 200, 201, 203, 204, 299, 399, 401, 403, 499};
    for (int error : networkProxy) {
        const QString details = QStringLiteral("[%1]").arg(error);
        QTest::addRow("error %d", error) << true << error << false << QByteArray("x")
                                         << ResultTexts::networkProxyError(details).serialize();
    }
    for (int error : connection) {
        const QString details = QStringLiteral("[%1]").arg(error);
        QTest::addRow("error %d", error) << true << error << false << QByteArray("x")
                                         << ResultTexts::connectionError(details).serialize();
    }

    QTest::newRow("error beats oversize") << true << 203 << true << QByteArray()
                                          << ResultTexts::connectionError(QStringLiteral("[203]")).serialize();
    QTest::newRow("oversize beats empty") << false << 0 << true << QByteArray()
                                          << ResultTexts::fileOversized().serialize();
    QTest::newRow("empty") << false << 0 << false << QByteArray()
                           << ResultTexts::fileSystemError().serialize();
    QTest::newRow("any content passes") << false << 0 << false << QByteArray("not a package") << QByteArray();
}

void TestDownloadErrors::judgesRecordedState()
{
    QFETCH(bool, networkError);
    QFETCH(int, errorNumber);
    QFETCH(bool, oversized);
    QFETCH(QByteArray, fileContent);
    QFETCH(QByteArray, result);

    CDefaultLibrary library;
    const CDefaultLibraryTestAccess access(library);
    const QByteArray before = access.result().serialize();
    QVERIFY(access.tempFile().open());
    access.tempFile().write(fileContent);
    access.tempFile().close();
    access.networkError() = networkError;
    access.networkErrorCode() = errorNumber;
    access.fileOversized() = oversized;

    QCOMPARE(access.handleDownloadErrors(), result.isEmpty());
    QCOMPARE(access.result().serialize(), result.isEmpty() ? before : result);
}

void TestDownloadErrors::networkErrorSlotRecordsLastError()
{
    CDefaultLibrary library;
    const CDefaultLibraryTestAccess access(library);
    LogFile log;
    access.handleNetworkError(QNetworkReply::HostNotFoundError);
    access.handleNetworkError(QNetworkReply::ContentNotFoundError);
    QVERIFY(access.networkError());
    QCOMPARE(access.networkErrorCode(), 203);
    QVERIFY(log.hasNewLine(QStringLiteral("CDefaultLibrary::handleNetworkError :: Connection error occurred: [3][")));
}

QTEST_MAIN(TestDownloadErrors)
#include "tst_downloaderrors.moc"
