#include "CConnectionWarning.h"

CConnectionWarning::CConnectionWarning(QWidget* parent)
    : CWindow(parent)
{
    setupUi(this);
    connect(okButton, SIGNAL(clicked()), this, SLOT(reject()));
    connect(proxySettingsButton, SIGNAL(clicked()), this, SLOT(accept()));
    setFixedSize(sizeHint());
}

CConnectionWarning::~CConnectionWarning() = default;

void CConnectionWarning::accept()
{
    if (validateInput())
        QDialog::accept();
}
