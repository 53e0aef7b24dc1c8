#include "resources/bitmaps/Bitmaps.h"

#include <QHash>
#include <QString>

namespace resources {

QPixmap bitmap(const char* name)
{
    static QHash<QString, QPixmap> loaded;
    const QString key = QString::fromLatin1(name ? name : "");
    auto it = loaded.find(key);
    if (it == loaded.end()) {
        QPixmap pixmap;
        if (!key.isEmpty()) pixmap.load(QStringLiteral(":/bitmaps/%1.bmp").arg(key));
        it = loaded.insert(key, pixmap);
    }
    return *it;
}

} // namespace resources
