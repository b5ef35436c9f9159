#include "ModalDriver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QPointer>
#include <QTest>
#include <QTimer>

void ModalDriver::onNextModal(std::function<void(QWidget*)> action, QWidget* except, int timeoutMs)
{
    QTimer* timer = new QTimer(qApp);
    QElapsedTimer* clock = new QElapsedTimer;
    clock->start();
    QPointer<QWidget> excluded(except);
    const bool hadExcept = except != nullptr;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [=]() {
        QWidget* modal = QApplication::activeModalWidget();
        const bool isNew = modal && modal->isVisible() && (!hadExcept || modal != excluded.data());
        if (!isNew && clock->elapsed() < timeoutMs)
            return;
        timer->stop();
        timer->deleteLater();
        delete clock;
        if (isNew)
            action(modal);
        else
            qWarning("ModalDriver: no modal dialog appeared");
    });
    timer->start();
}

bool ModalDriver::clickButton(QWidget* dialog, const QString& name)
{
    QAbstractButton* button = dialog->findChild<QAbstractButton*>(name);
    if (!button) {
        QDialogButtonBox::StandardButton which = QDialogButtonBox::NoButton;
        if (name == QLatin1String("ok"))
            which = QDialogButtonBox::Ok;
        else if (name == QLatin1String("cancel"))
            which = QDialogButtonBox::Cancel;
        const QList<QDialogButtonBox*> boxes = dialog->findChildren<QDialogButtonBox*>();
        for (QDialogButtonBox* box : boxes) {
            if (which != QDialogButtonBox::NoButton && box->button(which))
                button = box->button(which);
        }
    }
    if (!button || !button->isVisible() || !button->isEnabled())
        return false;
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, button->rect().center());
    return true;
}

void ModalDriver::typeText(QWidget* widget, const QString& text)
{
    for (const QChar ch : text) {
        if (ch.unicode() < 0x80)
            QTest::keyClick(widget, ch.toLatin1());
        else
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
}
