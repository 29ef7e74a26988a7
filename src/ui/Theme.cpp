#include "ui/Theme.h"

#include <QApplication>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

namespace quorvel::Theme {

void apply(const std::string& theme) {
    // What the desktop gave us at launch, to go back to when the theme follows the system again.
    static const QString systemStyle = QApplication::style()->name();
    static const QPalette systemPalette = QApplication::palette();
    if (theme != "dark" && theme != "light") {
        QApplication::setStyle(QStyleFactory::create(systemStyle));
        QApplication::setPalette(systemPalette);
        return;
    }
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    QPalette palette = QApplication::style()->standardPalette();
    if (theme == "dark") {
        const QColor window(45, 45, 48), base(30, 30, 32), text(230, 230, 230);
        palette.setColor(QPalette::Window, window);
        palette.setColor(QPalette::WindowText, text);
        palette.setColor(QPalette::Base, base);
        palette.setColor(QPalette::AlternateBase, window);
        palette.setColor(QPalette::Text, text);
        palette.setColor(QPalette::Button, window);
        palette.setColor(QPalette::ButtonText, text);
        palette.setColor(QPalette::ToolTipBase, base);
        palette.setColor(QPalette::ToolTipText, text);
        palette.setColor(QPalette::Highlight, QColor(42, 130, 218));
        // Secondary texts (notes, subtitles) and disabled controls must stay readable on the dark backdrop.
        palette.setColor(QPalette::PlaceholderText, QColor(160, 160, 165));
        for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            palette.setColor(QPalette::Disabled, role, QColor(125, 125, 130));
        palette.setColor(QPalette::Light, QColor(70, 70, 74));
        palette.setColor(QPalette::Mid, QColor(60, 60, 64));
        palette.setColor(QPalette::HighlightedText, Qt::white);
    }
    QApplication::setPalette(palette);
}

}  // namespace quorvel::Theme
