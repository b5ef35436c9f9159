#ifndef CKEYBOARDWINDOW_H
#define CKEYBOARDWINDOW_H

#include <QList>
#include <QString>

#include "CWindow.h"

class QGridLayout;
class QHBoxLayout;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

// On-screen keyboard: a text is composed with mouse clicks on its keys and
// "Enter" writes it into the target line edit, replacing the target's text.
// "Shift" and "Alt" (the Polish letters) act on the next character only;
// "!@#" switches to the symbol layer and back.
class CKeyboardWindow : public CWindow
{
    Q_OBJECT

public:
    explicit CKeyboardWindow(QWidget* parent);
    ~CKeyboardWindow() override;

    // The line edit that receives the text; its maximum length and validator
    // also limit what can be composed here.
    void setTarget(QLineEdit* edit);

public slots:
    // Starts with an empty line each time. Returns 1 after "Enter" and 0 when
    // closed otherwise; never throws.
    int exec() override;

protected slots:
    void KeyboardHandler();
    void on_shift_clicked();
    void on_alt_clicked();
    void on_char_2_clicked();
    void on_clear_clicked();
    void on_enterButton_clicked();
    void on_lineEdit_textChanged(QString arg1);
    void on_lineEdit_returnPressed();
    void on_backButton_clicked();

private:
    void setupForm();
    QPushButton* createKey(const QString& name, const QString& label);
    void focusEnter();
    void showText();
    void setLatinLabels(bool upper);
    void setPolishLabels(bool upper);
    void setSymbolLabels();
    void submit();

    QVBoxLayout* verticalLayout = nullptr;
    QHBoxLayout* horizontalLayout = nullptr;
    QGridLayout* gridLayout = nullptr;
    QLineEdit* lineEdit = nullptr;
    QPushButton* backButton = nullptr;
    QPushButton* clear = nullptr;
    QPushButton* enterButton = nullptr;
    QPushButton* shift = nullptr;
    QPushButton* alt = nullptr;
    QPushButton* char_2 = nullptr;
    QPushButton* space = nullptr;
    QList<QPushButton*> m_digitKeys;  // 0..9
    QList<QPushButton*> m_letterKeys; // keyboard order: q..p, a..l, z..m

    QString m_text;
    QLineEdit* m_target = nullptr;
    bool m_shift = false;
    bool m_alt = false;
    bool m_symbols = false;
};

#endif
