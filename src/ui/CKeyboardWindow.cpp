#include "CKeyboardWindow.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSizePolicy>
#include <QStyle>
#include <QTimer>
#include <QValidator>
#include <QVBoxLayout>

namespace {

// Letter keys in keyboard order, row by row.
const char kLetterRows[3][11] = {"qwertyuiop", "asdfghjkl", "zxcvbnm"};
const char kLetterOrder[] = "qwertyuiopasdfghjklzxcvbnm";

// Symbol labels of the 36 character keys, digits first, then the letters in
// keyboard order. "&&" shows a single ampersand.
const char* const kSymbolLabels[36] = {
    "`", "~", "!", "@", "#", "$", "%", "^", "&&", "*",          // 0..9
    "(", ")", "-", "_", "=", "+", "[", "]", "{", "}",           // q..p
    "\\", "|", ";", ":", "'", "\"", "/", "?", "",               // a..l
    "<", ">", ",", ".", "", "", "",                             // z..m
};

struct PolishLetter {
    char latin;
    const char* lower;
    const char* upper;
};

const PolishLetter kPolishLetters[] = {
    {'e', "ę", "Ę"}, {'o', "ó", "Ó"}, {'a', "ą", "Ą"}, {'s', "ś", "Ś"}, {'z', "ż", "Ż"},
    {'x', "ź", "Ź"}, {'c', "ć", "Ć"}, {'n', "ń", "Ń"}, {'l', "ł", "Ł"},
};

} // namespace

CKeyboardWindow::CKeyboardWindow(QWidget* parent)
    : CWindow(parent)
{
    setupForm();

    for (QPushButton* key : m_digitKeys)
        connect(key, &QAbstractButton::clicked, this, &CKeyboardWindow::KeyboardHandler);
    for (QPushButton* key : m_letterKeys)
        connect(key, &QAbstractButton::clicked, this, &CKeyboardWindow::KeyboardHandler);
    connect(space, &QAbstractButton::clicked, this, &CKeyboardWindow::KeyboardHandler);

    setWindowModality(Qt::WindowModal);
    alt->setCheckable(true);
    shift->setCheckable(true);
    char_2->setCheckable(true);

    m_text.clear();
    m_shift = false;
    m_alt = false;
    m_symbols = false;
    lineEdit->setReadOnly(true);
    lineEdit->setEchoMode(QLineEdit::Password);
    enterButton->setFocus(Qt::OtherFocusReason);
}

CKeyboardWindow::~CKeyboardWindow() = default;

QPushButton* CKeyboardWindow::createKey(const QString& name, const QString& label)
{
    QPushButton* key = new QPushButton(this);
    key->setObjectName(name);
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    policy.setHorizontalStretch(0);
    policy.setVerticalStretch(0);
    key->setSizePolicy(policy);
    key->setMinimumSize(QSize(20, 0));
    key->setText(label);
    return key;
}

void CKeyboardWindow::setupForm()
{
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("CKeyboardWindow"));
    resize(600, 315);
    setSizePolicy(QSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred));
    setWindowTitle(QString());
    setStyleSheet(QString());

    verticalLayout = new QVBoxLayout(this);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));

    horizontalLayout = new QHBoxLayout();
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    lineEdit = new QLineEdit(this);
    lineEdit->setObjectName(QStringLiteral("lineEdit"));
    lineEdit->setReadOnly(true);
    lineEdit->setEchoMode(QLineEdit::Password);
    lineEdit->setStyleSheet(QStringLiteral("color: rgb(0, 0, 0);\nbackground-color: rgb(255, 255, 255);"));
    horizontalLayout->addWidget(lineEdit);
    backButton = new QPushButton(this);
    backButton->setObjectName(QStringLiteral("backButton"));
    backButton->setText(QStringLiteral("Backspace"));
    horizontalLayout->addWidget(backButton);
    clear = new QPushButton(this);
    clear->setObjectName(QStringLiteral("clear"));
    clear->setIcon(style()->standardIcon(QStyle::SP_LineEditClearButton));
    horizontalLayout->addWidget(clear);
    verticalLayout->addLayout(horizontalLayout);

    gridLayout = new QGridLayout();
    gridLayout->setObjectName(QStringLiteral("gridLayout"));
    gridLayout->setSpacing(2);

    for (int digit = 0; digit < 10; ++digit) {
        QPushButton* key = createKey(QStringLiteral("Button%1").arg(digit), QString::number(digit));
        gridLayout->addWidget(key, 0, digit, 1, 1);
        m_digitKeys.append(key);
    }
    const int gridRows[3] = {1, 3, 4};
    const int firstColumns[3] = {0, 0, 1};
    for (int row = 0; row < 3; ++row) {
        for (int i = 0; kLetterRows[row][i] != '\0'; ++i) {
            const QString letter = QString(QLatin1Char(kLetterRows[row][i]));
            QPushButton* key = createKey(QStringLiteral("Button") + letter, letter);
            gridLayout->addWidget(key, gridRows[row], firstColumns[row] + i, 1, 1);
            m_letterKeys.append(key);
        }
    }

    enterButton = createKey(QStringLiteral("enterButton"), QStringLiteral("Enter"));
    gridLayout->addWidget(enterButton, 3, 9, 3, 1);
    shift = createKey(QStringLiteral("shift"), QStringLiteral("Shift"));
    gridLayout->addWidget(shift, 4, 0, 2, 1);
    char_2 = createKey(QStringLiteral("char_2"), QStringLiteral("!@#"));
    gridLayout->addWidget(char_2, 4, 8, 2, 1);

    alt = new QPushButton(this);
    alt->setObjectName(QStringLiteral("alt"));
    alt->setMinimumSize(QSize(20, 50));
    alt->setText(QStringLiteral("Alt"));
    gridLayout->addWidget(alt, 5, 1, 1, 1);
    space = new QPushButton(this);
    space->setObjectName(QStringLiteral("space"));
    space->setMinimumSize(QSize(20, 50));
    space->setText(QStringLiteral(" "));
    gridLayout->addWidget(space, 5, 2, 1, 6);

    verticalLayout->addLayout(gridLayout);

    QMetaObject::connectSlotsByName(this);
}

void CKeyboardWindow::setTarget(QLineEdit* edit)
{
    m_target = edit;
    if (edit)
        lineEdit->setMaxLength(edit->maxLength());
}

int CKeyboardWindow::exec()
{
    lineEdit->setText(QString());
    m_text.clear();
    // The slot is CWindow's own and private: reached by its name.
    QTimer::singleShot(0, this, SLOT(setWindowFocus()));
    return QDialog::exec();
}

void CKeyboardWindow::focusEnter()
{
    enterButton->setFocus(Qt::OtherFocusReason);
}

void CKeyboardWindow::showText()
{
    lineEdit->setText(m_text);
}

void CKeyboardWindow::setLatinLabels(bool upper)
{
    for (QPushButton* key : m_letterKeys) {
        const QString letter = key->objectName().right(1);
        key->setText(upper ? letter.toUpper() : letter);
    }
}

void CKeyboardWindow::setPolishLabels(bool upper)
{
    for (const PolishLetter& polish : kPolishLetters) {
        const int index = QByteArray(kLetterOrder).indexOf(polish.latin);
        m_letterKeys.at(index)->setText(QString::fromUtf8(upper ? polish.upper : polish.lower));
    }
}

void CKeyboardWindow::setSymbolLabels()
{
    for (int i = 0; i < 10; ++i)
        m_digitKeys.at(i)->setText(QString::fromLatin1(kSymbolLabels[i]));
    for (int i = 0; i < m_letterKeys.size(); ++i)
        m_letterKeys.at(i)->setText(QString::fromLatin1(kSymbolLabels[10 + i]));
}

void CKeyboardWindow::KeyboardHandler()
{
    QPushButton* key = qobject_cast<QPushButton*>(sender());
    if (!key)
        return;
    const QString label = key->text();
    const QString typed = label == QLatin1String("&&") ? QStringLiteral("&") : label;
    // What the target's validator refuses is not typed, as if typed there.
    QString candidate = m_text + typed;
    int position = candidate.size();
    const QValidator* validator = m_target ? m_target->validator() : nullptr;
    if (!validator || validator->validate(candidate, position) != QValidator::Invalid)
        m_text += typed;
    focusEnter();
    showText();
    if (m_shift)
        on_shift_clicked();
    if (m_alt)
        on_alt_clicked();
}

void CKeyboardWindow::on_shift_clicked()
{
    if (m_symbols) {
        // The symbol layer has no shift: keep the key's mark off.
        shift->setChecked(false);
        focusEnter();
        return;
    }
    if (m_shift) {
        m_shift = false;
        for (QPushButton* key : m_letterKeys)
            key->setText(key->text().toLower());
        shift->setChecked(false);
    } else {
        m_shift = true;
        for (QPushButton* key : m_letterKeys)
            key->setText(key->text().toUpper());
        shift->setChecked(true);
    }
    focusEnter();
}

void CKeyboardWindow::on_alt_clicked()
{
    if (m_symbols) {
        alt->setChecked(false);
        focusEnter();
        return;
    }
    if (m_alt) {
        m_alt = false;
        for (const PolishLetter& polish : kPolishLetters) {
            const int index = QByteArray(kLetterOrder).indexOf(polish.latin);
            const QString letter = QString(QLatin1Char(polish.latin));
            m_letterKeys.at(index)->setText(m_shift ? letter.toUpper() : letter);
        }
        alt->setChecked(false);
    } else {
        m_alt = true;
        setPolishLabels(m_shift);
        alt->setChecked(true);
    }
    focusEnter();
}

void CKeyboardWindow::on_char_2_clicked()
{
    if (!m_symbols) {
        m_symbols = true;
        setSymbolLabels();
        shift->setChecked(false);
        alt->setChecked(false);
        char_2->setChecked(true);
    } else {
        m_symbols = false;
        for (int i = 0; i < 10; ++i)
            m_digitKeys.at(i)->setText(QString::number(i));
        setLatinLabels(false);
        // The plain layer is back: Shift and Alt start over, as their keys
        // show, instead of acting on labels that no longer show them.
        m_shift = false;
        m_alt = false;
        char_2->setChecked(false);
    }
    focusEnter();
}

void CKeyboardWindow::on_clear_clicked()
{
    m_text.clear();
    showText();
    focusEnter();
}

void CKeyboardWindow::submit()
{
    if (m_target)
        m_target->setText(m_text);
    m_text.clear();
    showText();
    accept();
}

void CKeyboardWindow::on_enterButton_clicked()
{
    submit();
}

void CKeyboardWindow::on_lineEdit_textChanged(QString arg1)
{
    m_text = arg1;
    showText();
    focusEnter();
}

void CKeyboardWindow::on_lineEdit_returnPressed()
{
    submit();
}

void CKeyboardWindow::on_backButton_clicked()
{
    m_text.chop(1);
    showText();
    focusEnter();
}
