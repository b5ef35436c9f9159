#ifndef CMESSAGEBOX_H
#define CMESSAGEBOX_H

#include <QMessageBox>
#include <QWidget>

// The module's message box: stays on top and takes the focus by a simulated
// click once shown, like CWindow, but never throws.
class CMessageBox : public QMessageBox
{
    Q_OBJECT

public:
    CMessageBox(QMessageBox::Icon icon, const QString& title, const QString& text,
                QMessageBox::StandardButtons buttons, QWidget* parent, Qt::WindowFlags flags);
    ~CMessageBox() override;

public slots:
    int exec() override;

private slots:
    void clickLeftBottomCorner();
    void setWindowFocus();

private:
    QWidget m_companion;
};

#endif
