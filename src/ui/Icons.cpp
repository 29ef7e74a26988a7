#include "ui/Icons.h"

#include <QPainter>

namespace quorvel::Icons {
namespace {

struct Source {
    const char* themeName;
    const char* resource;
};

Source sourceOf(Glyph glyph) {
    switch (glyph) {
        case Glyph::mic: return {"audio-input-microphone", ":/quorvel/icons/mic.svg"};
        case Glyph::stop: return {"media-playback-stop", ":/quorvel/icons/stop.svg"};
        case Glyph::xmark: return {"window-close", ":/quorvel/icons/xmark.svg"};
        case Glyph::mode: return {"view-refresh", ":/quorvel/icons/mode.svg"};
        case Glyph::expand: return {"view-fullscreen", ":/quorvel/icons/expand.svg"};
        case Glyph::collapse: return {"view-restore", ":/quorvel/icons/collapse.svg"};
        case Glyph::copy: return {"edit-copy", ":/quorvel/icons/copy.svg"};
    }
    return {"", ""};
}

}  // namespace

QIcon icon(Glyph glyph) {
    const Source source = sourceOf(glyph);
    return QIcon::fromTheme(QString::fromLatin1(source.themeName), QIcon(QString::fromLatin1(source.resource)));
}

QPixmap tinted(const QIcon& icon, int side, const QColor& color, qreal devicePixelRatio) {
    QPixmap pixmap = icon.pixmap(QSize(side, side), devicePixelRatio);
    if (pixmap.isNull()) return pixmap;
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), color);
    return pixmap;
}

}  // namespace quorvel::Icons
