#include "Images.h"

#include <QHash>

#include "Bundle.h"

namespace brindlow::ui {

namespace {

// Main thread only, like every window of the application.
QHash<QString, QPixmap>& cache() {
    static QHash<QString, QPixmap> images;
    return images;
}

}  // namespace

QPixmap imageNamed(const QString& name) {
    auto found = cache().constFind(name);
    if (found != cache().constEnd()) return *found;

    const std::string resources = platform::mainBundleResources();
    QPixmap image;
    for (const QString& candidate : {name, name + QStringLiteral(".png")}) {
        const std::string path = platform::bundleResourcePath(resources, candidate.toStdString());
        if (!path.empty() && image.load(QString::fromStdString(path))) break;
    }
    cache().insert(name, image);
    return image;
}

QIcon iconNamed(const QString& name) {
    const QPixmap image = imageNamed(name);
    return image.isNull() ? QIcon() : QIcon(image);
}

void clearImageCache() {
    cache().clear();
}

}  // namespace brindlow::ui
