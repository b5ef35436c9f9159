#include "StyleSheet.h"

#include <QApplication>
#include <QFile>
#include <QIcon>

#include "GuiThread.h"

namespace {

QApplication* widgetApplication()
{
    return qobject_cast<QApplication*>(QCoreApplication::instance());
}

} // namespace

void applyStyleSheet(const QString& path)
{
    if (isGuiThread() && widgetApplication()) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            widgetApplication()->setStyleSheet(QString::fromUtf8(file.readAll()));
    }
    applyWindowIconFromStyleSheet();
}

void applyWindowIconFromStyleSheet()
{
    if (!isGuiThread() || !widgetApplication())
        return;
    const QString path = windowIconPathFromStyleSheet(widgetApplication()->styleSheet());
    if (path.isEmpty())
        return;
    // An icon that cannot be read would only take away the host's own icon.
    const QIcon icon(path);
    if (!icon.pixmap(QSize(16, 16)).isNull())
        QGuiApplication::setWindowIcon(icon);
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
