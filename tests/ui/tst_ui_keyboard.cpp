// The on-screen keyboard, clicked key by key.

#include <QtTest>

#include <QLineEdit>
#include <QPushButton>

#include "support/ModalDriver.h"
#include "ui/CKeyboardWindow.h"

class TestUiKeyboard : public QObject
{
    Q_OBJECT

private slots:
    void typing_data();
    void typing();
    void layersAfterTyping_data();
    void layersAfterTyping();
};

void TestUiKeyboard::typing_data()
{
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<int>("maxLength");
    QTest::addColumn<QString>("expected");

    const int unlimited = 32767;
    QTest::newRow("plain") << QStringList{"Buttona", "Button1", "space", "Buttonz"} << unlimited << "a1 z";
    QTest::newRow("shift for one letter") << QStringList{"shift", "Buttona", "Buttonb"} << unlimited << "Ab";
    QTest::newRow("alt then shift") << QStringList{"alt", "shift", "Buttona"} << unlimited << QString::fromUtf8("Ą");
    QTest::newRow("shift then alt") << QStringList{"shift", "alt", "Buttona"} << unlimited << QString::fromUtf8("Ą");
    QTest::newRow("all Polish letters")
        << QStringList{"alt", "Buttone", "alt", "Buttono", "alt", "Buttona", "alt", "Buttons", "alt", "Buttonz",
                       "alt", "Buttonx", "alt", "Buttonc", "alt", "Buttonn", "alt", "Buttonl"}
        << unlimited << QString::fromUtf8("ęóąśżźćńł");
    QTest::newRow("symbols") << QStringList{"char_2", "Button8", "Buttona", "Buttons", "Buttonh", "Button0"}
                             << unlimited << QStringLiteral("&\\|\"`");
    QTest::newRow("blank symbol keys") << QStringList{"char_2", "Buttonl", "Buttonb", "Buttonn", "Buttonm"}
                                       << unlimited << "";
    QTest::newRow("symbols and back") << QStringList{"char_2", "Button2", "char_2", "Button2"} << unlimited
                                      << "!2";
    QTest::newRow("backspace on empty") << QStringList{"backButton", "backButton"} << unlimited << "";
    QTest::newRow("backspace") << QStringList{"Button1", "Button2", "backButton", "Button3"} << unlimited << "13";
    QTest::newRow("clear") << QStringList{"Button1", "Button2", "clear", "Button3"} << unlimited << "3";
    QTest::newRow("empty enter empties target") << QStringList{} << unlimited << "";
    QTest::newRow("maximum length") << QStringList{"Button1", "Button2", "Button3", "Button4", "Button5", "Button6",
                                                   "Button7", "Button8", "Button9", "Button0"}
                                    << 8 << "12345678";
}

void TestUiKeyboard::typing()
{
    QFETCH(QStringList, keys);
    QFETCH(int, maxLength);
    QFETCH(QString, expected);

    QLineEdit target;
    target.setText(QStringLiteral("before"));
    target.setMaxLength(maxLength);
    CKeyboardWindow keyboard(nullptr);
    keyboard.setTarget(&target);
    QLineEdit* line = keyboard.findChild<QLineEdit*>("lineEdit");
    int longestShown = 0;
    ModalDriver::onNextModal([&](QWidget* modal) {
        for (const QString& name : keys) {
            QVERIFY2(ModalDriver::clickButton(modal, name), qPrintable(name));
            longestShown = qMax(longestShown, line->text().size());
        }
        QVERIFY(ModalDriver::clickButton(modal, "enterButton"));
    });
    QCOMPARE(keyboard.exec(), 1);
    QCOMPARE(target.text(), expected);
    QVERIFY(longestShown <= maxLength);
    QCOMPARE(line->echoMode(), QLineEdit::Password);
}

void TestUiKeyboard::layersAfterTyping_data()
{
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QString>("labelA");
    QTest::addColumn<QString>("labelQ");
    QTest::addColumn<bool>("shiftChecked");
    QTest::addColumn<bool>("altChecked");

    QTest::newRow("shift held") << QStringList{"shift"} << "A" << "Q" << true << false;
    QTest::newRow("alt held") << QStringList{"alt"} << QString::fromUtf8("ą") << "q" << false << true;
    QTest::newRow("alt and shift held") << QStringList{"alt", "shift"} << QString::fromUtf8("Ą") << "Q" << true
                                        << true;
    QTest::newRow("after a Polish capital") << QStringList{"alt", "shift", "Buttona"} << "a" << "q" << false
                                            << false;
    QTest::newRow("shift twice") << QStringList{"shift", "shift"} << "a" << "q" << false << false;
    QTest::newRow("symbol layer") << QStringList{"char_2"} << "\\" << "(" << false << false;
    QTest::newRow("symbols ignore shift and alt") << QStringList{"char_2", "shift", "alt"} << "\\" << "("
                                                  << false << false;
    QTest::newRow("back from symbols with shift") << QStringList{"shift", "char_2", "char_2"} << "a" << "q"
                                                  << false << false;
}

void TestUiKeyboard::layersAfterTyping()
{
    QFETCH(QStringList, keys);
    QFETCH(QString, labelA);
    QFETCH(QString, labelQ);
    QFETCH(bool, shiftChecked);
    QFETCH(bool, altChecked);

    CKeyboardWindow keyboard(nullptr);
    keyboard.show();
    for (const QString& name : keys)
        QVERIFY(ModalDriver::clickButton(&keyboard, name));
    auto key = [&keyboard](const char* name) { return keyboard.findChild<QPushButton*>(name); };
    QCOMPARE(key("Buttona")->text(), labelA);
    QCOMPARE(key("Buttonq")->text(), labelQ);
    QCOMPARE(key("shift")->isChecked(), shiftChecked);
    QCOMPARE(key("alt")->isChecked(), altChecked);
}

QTEST_MAIN(TestUiKeyboard)
#include "tst_ui_keyboard.moc"
