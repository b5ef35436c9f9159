#include "StyleSheet.h"

#include <QFile>
#include <QIcon>
#include <QWidget>

#include "GuiThread.h"

void applyStyleSheet(const QString& path, QWidget* window)
{
    if (!window || !isGuiThread())
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QString styleSheet = QString::fromUtf8(file.readAll());
    window->setStyleSheet(styleSheet);

    // The sheet's qproperty sets the icon only once the window is polished;
    // set it now, so that it is there from the first show.
    const QString iconPath = windowIconPathFromStyleSheet(styleSheet);
    if (iconPath.isEmpty())
        return;
    const QIcon icon(iconPath);
    if (!icon.pixmap(QSize(16, 16)).isNull())
        window->setWindowIcon(icon);
}

QString windowIconPathFromStyleSheet(const QString& styleSheet)
{
    static const QString key = QStringLiteral("qproperty-windowIcon:");
    const int keyAt = styleSheet.indexOf(key, 0, Qt::CaseSensitive);
    if (keyAt < 0)
        return QString();
    const int start = keyAt + key.size();
    const int lineEnd = styleSheet.indexOf(QLatin1Char('\n'), start);
    QString value = styleSheet.mid(start, lineEnd < 0 ? -1 : lineEnd - start).trimmed();
    value.chop(2);      // ");"
    return value.mid(4); // "url("
}
