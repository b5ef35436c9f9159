// The redirect chain on its own: which answers are followed, where to, and
// the error each refusal is judged by. The common statuses, relative
// Locations, https to http and the hop limit are tested against nginx
// (tst_nginx); here are the cases a server is not needed for.

#include <QtTest>

#include "download/RedirectChain.h"

class TestRedirectChain : public QObject
{
    Q_OBJECT

private slots:
    void follow_data();
    void follow();
};

void TestRedirectChain::follow_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("location");
    QTest::addColumn<QString>("target"); // empty: refused
    QTest::addColumn<int>("errorCode");
    const int notAPackage = RedirectChain::NotAPackage;
    const int insecure = RedirectChain::InsecureRedirect;
    const int tooMany = RedirectChain::TooManyRedirects;
    QTest::newRow("another port") << 307 << "https://a.example:8443/p.ztx" << "https://a.example:8443/p.ztx" << 0;
    QTest::newRow("without a location") << 302 << "" << "" << notAPackage;
    QTest::newRow("300") << 300 << "https://b.example/p.ztx" << "" << notAPackage;
    QTest::newRow("304") << 304 << "https://b.example/p.ztx" << "" << notAPackage;
    QTest::newRow("to ftp") << 302 << "ftp://b.example/p.ztx" << "" << insecure;
    QTest::newRow("without a host") << 302 << "https:///p.ztx" << "" << insecure;
    QTest::newRow("back to the start") << 302 << "https://a.example/dir/p.ztx" << "" << tooMany;
    QTest::newRow("to the start, another fragment") << 302 << "https://a.example/dir/p.ztx#x" << "" << tooMany;
    QTest::newRow("to the start, spelt with dots") << 302 << "https://a.example/dir/./p.ztx" << "" << tooMany;
}

void TestRedirectChain::follow()
{
    QFETCH(int, status);
    QFETCH(QString, location);
    QFETCH(QString, target);
    QFETCH(int, errorCode);
    const QUrl start(QStringLiteral("https://a.example/dir/p.ztx"));
    RedirectChain chain(start);
    QCOMPARE(chain.follow(start, status, QUrl(location)), !target.isEmpty());
    QCOMPARE(chain.hops(), 1);
    QCOMPARE(chain.errorCode(), errorCode);
    if (target.isEmpty())
        QVERIFY(!chain.errorString().isEmpty());
    else
        QCOMPARE(chain.target(), QUrl(target));
}

QTEST_GUILESS_MAIN(TestRedirectChain)
#include "tst_redirect_chain.moc"
