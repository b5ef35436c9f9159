// Result records and the module's exceptions.

#include <QtTest>

#include <QThread>
#include <algorithm>
#include <iterator>
#include <memory>

#include <updater/BaseException.h>
#include <updater/OperationCancelledException.h>

#include "module/DllResultBasic.h"
#include "module/DllResultSingle.h"
#include "module/ResultTexts.h"

namespace {

// The module's fixed results exactly as a host receives and matches them:
// the one place where their strings are written out. Results whose details
// are the call's own are made with sample details.
struct PinnedResult {
    const ResultTexts::Entry* entry;
    DllResultBasic (*make)();
    const char* wire;
};

const PinnedResult kPinnedResults[] = {
    {&ResultTexts::kFileUpdated, [] { return ResultTexts::fileUpdated(); },
     "0|file updated|file updated, need to relogin user"},
    {&ResultTexts::kFileSystemError, [] { return ResultTexts::fileSystemError(); },
     "41|file system error|insufficient permission for file operations"},
    {&ResultTexts::kOperationAborted, [] { return ResultTexts::operationAborted(); },
     "41|operation aborted|user clicked the cancel button"},
    {&ResultTexts::kInsufficientParameters, [] { return ResultTexts::insufficientParameters(); },
     "42|insufficient parameters|url or destFileName was not set"},
    {&ResultTexts::kVerificationError, [] { return ResultTexts::verificationError(); },
     "43|verification error|downloaded file can't be verified"},
    {&ResultTexts::kNetworkProxyError, [] { return ResultTexts::networkProxyError(QStringLiteral("[99] x")); },
     "45|network/proxy error occured during downloading|[99] x"},
    {&ResultTexts::kProxySettingsSet, [] { return ResultTexts::proxySettingsSet(QStringLiteral("70317c38307c7c")); },
     "46|proxy settings set|70317c38307c7c"},
    {&ResultTexts::kConnectionError, [] { return ResultTexts::connectionError(QStringLiteral("[203] y")); },
     "47|connection error occured during downloading|[203] y"},
    {&ResultTexts::kFileOversized, [] { return ResultTexts::fileOversized(); },
     "48|file is oversized|file is oversized, downloading was aborted"},
};

} // namespace

class TestResults : public QObject
{
    Q_OBJECT

private slots:
    void resultStringsOnTheWire_data();
    void resultStringsOnTheWire();
    void everyResultIsPinned();
    void basicSerialization_data();
    void basicSerialization();
    void singleSerialization_data();
    void singleSerialization();
    void copiesAreIndependent();

    void whatReturnsMessageAsUtf8_data();
    void whatReturnsMessageAsUtf8();
    void stackTraceOfChain();
    void copyOutlivesOriginal();
    void assignmentReplacesEverything();
    void raiseThrowsBaseException();
    void cloneOfCloneKeepsChain();
    void copyHandedToAnotherThread();
    void cancelledExceptionIsCatchableAsQException();
};

void TestResults::resultStringsOnTheWire_data()
{
    QTest::addColumn<int>("pinned"); // index into kPinnedResults
    for (int i = 0; i < int(std::size(kPinnedResults)); ++i)
        QTest::newRow(kPinnedResults[i].wire) << i;
}

void TestResults::resultStringsOnTheWire()
{
    QFETCH(int, pinned);
    const PinnedResult& result = kPinnedResults[pinned];
    const QByteArray wire(result.wire);
    const DllResultBasic made = result.make();
    QCOMPARE(made.serialize(), wire);
    QCOMPARE(made.code(), int(result.entry->code));
    // The code is the public one, in front of the first separator.
    QCOMPARE(wire.left(wire.indexOf('|')).toInt(), int(result.entry->code));
    QCOMPARE(made.message(), QString::fromLatin1(result.entry->message));
    if (result.entry->details)
        QCOMPARE(ResultTexts::record(*result.entry).serialize(), wire);
}

void TestResults::everyResultIsPinned()
{
    QCOMPARE(int(std::size(kPinnedResults)), int(std::size(ResultTexts::kAll)));
    for (const ResultTexts::Entry* entry : ResultTexts::kAll) {
        const auto pinned = std::find_if(std::begin(kPinnedResults), std::end(kPinnedResults),
                                         [entry](const PinnedResult& result) { return result.entry == entry; });
        QVERIFY2(pinned != std::end(kPinnedResults), entry->message);
    }
}

void TestResults::basicSerialization_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("details");
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("default controller result")
        << 0 << "file updated" << "file updated, need to relogin user" << QString()
        << QByteArray("0|file updated|file updated, need to relogin user");
    QTest::newRow("insufficient parameters")
        << 42 << "insufficient parameters" << "url or destFileName was not set" << QString()
        << QByteArray("42|insufficient parameters|url or destFileName was not set");
    QTest::newRow("empty details keep the trailing separator")
        << 46 << "proxy settings set" << "" << QString() << QByteArray("46|proxy settings set|");
    QTest::newRow("both texts empty") << 41 << "" << "" << QString() << QByteArray("41||");
    QTest::newRow("negative code") << -7 << "m" << "d" << QString() << QByteArray("-7|m|d");
    QTest::newRow("pipe inside a text is not escaped")
        << 45 << "a|b" << "[1] c|d" << QString() << QByteArray("45|a|b|[1] c|d");
    QTest::newRow("non-ASCII texts go out as UTF-8")
        << 47 << QString::fromUtf8("Błąd") << QString::fromUtf8("Greška") << QString()
        << QByteArray("47|B\xc5\x82\xc4\x85" "d|Gre\xc5\xa1ka");
    QTest::newRow("semicolon separator") << 48 << "x" << "y" << ";" << QByteArray("48;x;y");
    QTest::newRow("multi-character separator") << 1 << "x" << "y" << "--" << QByteArray("1--x--y");
    QTest::newRow("empty separator") << 2 << "x" << "y" << "" << QByteArray("2xy");
}

void TestResults::basicSerialization()
{
    QFETCH(int, code);
    QFETCH(QString, message);
    QFETCH(QString, details);
    QFETCH(QString, separator);
    QFETCH(QByteArray, expected);

    DllResultBasic result(code, message, details);
    QCOMPARE(result.separator(), QStringLiteral("|"));
    if (!separator.isNull())
        result.setSeparator(separator);
    QCOMPARE(result.serialize(), expected);
}

void TestResults::singleSerialization_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("module version") << 0 << ResultTexts::ModuleVersion << QString()
                                    << QByteArray("0|") + ResultTexts::ModuleVersion;
    QTest::newRow("semicolon separator") << 0 << "text" << ";" << QByteArray("0;text");
    QTest::newRow("empty text") << 3 << "" << QString() << QByteArray("3|");
    QTest::newRow("negative code") << -2147483647 - 1 << "min" << QString() << QByteArray("-2147483648|min");
}

void TestResults::singleSerialization()
{
    QFETCH(int, code);
    QFETCH(QString, value);
    QFETCH(QString, separator);
    QFETCH(QByteArray, expected);

    DllResultSingle result(code, value);
    if (!separator.isNull())
        result.setSeparator(separator);
    QCOMPARE(result.serialize(), expected);
}

void TestResults::copiesAreIndependent()
{
    const QByteArray original = ResultTexts::verificationError().serialize();
    DllResultBasic first = ResultTexts::verificationError();
    DllResultBasic second = first;
    second.setSeparator(QStringLiteral(";"));
    QCOMPARE(first.serialize(), original);
    QCOMPARE(second.serialize(), QByteArray(original).replace('|', ';'));

    first = ResultTexts::fileOversized();
    QCOMPARE(first.code(), int(updater::FileOversized));
    QCOMPARE(first.serialize(), ResultTexts::fileOversized().serialize());
    QCOMPARE(second.serialize(), QByteArray(original).replace('|', ';'));
}

void TestResults::whatReturnsMessageAsUtf8_data()
{
    QTest::addColumn<QString>("message");
    QTest::newRow("ASCII") << "download failed";
    QTest::newRow("Polish") << QString::fromUtf8("Błąd połączenia ąęśćźżółń");
    QTest::newRow("Croatian") << QString::fromUtf8("Korisničko ime nije uneseno");
    QTest::newRow("outside the BMP") << QString::fromUtf8("\xf0\x9f\x94\x91 key");
    QTest::newRow("empty") << QString();
}

void TestResults::whatReturnsMessageAsUtf8()
{
    QFETCH(QString, message);
    const BaseException exception(message);
    QCOMPARE(QByteArray(exception.what()), message.toUtf8());
    BaseException copy(exception);
    QCOMPARE(copy.getStackTrace(), message);
}

void TestResults::stackTraceOfChain()
{
    const BaseException innermost(QStringLiteral("C"));
    const BaseException middle(QStringLiteral("B"), innermost);
    BaseException outer(QStringLiteral("A"), middle);

    QCOMPARE(QByteArray(outer.what()), QByteArray("A"));
    QCOMPARE(outer.getStackTrace(), QStringLiteral("A\n\tB\n\tC"));
    // Asking again gives the same text.
    QCOMPARE(outer.getStackTrace(), QStringLiteral("A\n\tB\n\tC"));

    // Percent signs in a message are taken literally.
    const BaseException percentInner(QStringLiteral("%1 inner %2"));
    BaseException percentOuter(QStringLiteral("outer %1"), percentInner);
    QCOMPARE(percentOuter.getStackTrace(), QStringLiteral("outer %1\n\t%1 inner %2"));
}

void TestResults::copyOutlivesOriginal()
{
    std::unique_ptr<BaseException> copy;
    {
        const BaseException inner(QStringLiteral("inner cause"));
        auto original = std::make_unique<BaseException>(QString::fromUtf8("zewnętrzny"), inner);
        copy = std::make_unique<BaseException>(*original);
        QVERIFY(copy->what() != original->what()); // own buffer
    }
    QCOMPARE(QString::fromUtf8(copy->what()), QString::fromUtf8("zewnętrzny"));
    QCOMPARE(copy->getStackTrace(), QString::fromUtf8("zewnętrzny\n\tinner cause"));
}

void TestResults::assignmentReplacesEverything()
{
    BaseException target(QStringLiteral("old"));
    {
        const BaseException inner(QStringLiteral("why"));
        const BaseException source(QStringLiteral("new"), inner);
        target = source;
    }
    QCOMPARE(QByteArray(target.what()), QByteArray("new"));
    QCOMPARE(target.getStackTrace(), QStringLiteral("new\n\twhy"));

    target = target; // self-assignment keeps the object intact
    QCOMPARE(QByteArray(target.what()), QByteArray("new"));
}

void TestResults::raiseThrowsBaseException()
{
    const BaseException inner(QStringLiteral("root"));
    const BaseException exception(QStringLiteral("top"), inner);
    try {
        exception.raise();
        QFAIL("raise() returned");
    } catch (BaseException& caught) {
        QCOMPARE(QByteArray(caught.what()), QByteArray("top"));
        QCOMPARE(caught.getStackTrace(), QStringLiteral("top\n\troot"));
    }
}

void TestResults::cloneOfCloneKeepsChain()
{
    const BaseException inner(QStringLiteral("1"));
    const BaseException exception(QStringLiteral("2"), inner);
    std::unique_ptr<BaseException> clone(exception.clone());
    std::unique_ptr<BaseException> cloneOfClone(clone->clone());
    clone.reset();
    QCOMPARE(cloneOfClone->getStackTrace(), QStringLiteral("2\n\t1"));
}

void TestResults::copyHandedToAnotherThread()
{
    auto original = std::make_unique<BaseException>(QString::fromUtf8("wątek"), BaseException(QStringLiteral("x")));
    BaseException copy(*original);
    QString traceSeen;
    QByteArray whatSeen;
    QThread* thread = QThread::create([&copy, &traceSeen, &whatSeen] {
        whatSeen = QByteArray(copy.what());
        traceSeen = copy.getStackTrace();
    });
    original.reset();
    thread->start();
    QVERIFY(thread->wait(10000));
    delete thread;
    QCOMPARE(whatSeen, QString::fromUtf8("wątek").toUtf8());
    QCOMPARE(traceSeen, QString::fromUtf8("wątek\n\tx"));
}

void TestResults::cancelledExceptionIsCatchableAsQException()
{
    bool caught = false;
    try {
        throw OperationCancelledException();
    } catch (const QException&) {
        caught = true;
    }
    QVERIFY(caught);

    const OperationCancelledException first;
    OperationCancelledException second(first);
    second = first;
    std::unique_ptr<QException> clone(second.clone());
    QVERIFY(clone != nullptr);
}

QTEST_GUILESS_MAIN(TestResults)
#include "tst_results.moc"
