#include "CConnectionWarning.h"

CConnectionWarning::CConnectionWarning(QWidget* parent)
    : CWindow(parent)
{
    setupUi(this);
    connect(okButton, &QAbstractButton::clicked, this, &CConnectionWarning::reject);
    connect(proxySettingsButton, &QAbstractButton::clicked, this, &CConnectionWarning::accept);
    setFixedSize(sizeHint());
}

CConnectionWarning::~CConnectionWarning() = default;

void CConnectionWarning::accept()
{
    if (validateInput())
        QDialog::accept();
}
