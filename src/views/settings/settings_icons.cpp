#include "views/settings/settings_icons.h"

#include <QColor>
#include <QFont>
#include <QHash>
#include <QPainter>
#include <QPixmap>

namespace perchwell {

namespace {

struct SymbolLook {
    QStringList themeNames;
    QColor color;
    QString glyph; // a character, or one of the shapes drawn below: "lock", "antenna", "laptop"
};

// Shapes DejaVu Sans has no glyph for, in white on the badge.
bool drawShape(QPainter& painter, const QString& shape, qreal size) {
    QPen pen(Qt::white, qMax(1.2, size * 0.09), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const qreal u = size / 16.0;
    if (shape == QLatin1String("lock")) {
        painter.drawArc(QRectF(5.5 * u, 3.5 * u, 5 * u, 6 * u), 0, 180 * 16);
        painter.drawLine(QPointF(5.5 * u, 6.5 * u), QPointF(5.5 * u, 7.5 * u));
        painter.drawLine(QPointF(10.5 * u, 6.5 * u), QPointF(10.5 * u, 7.5 * u));
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::white);
        painter.drawRoundedRect(QRectF(4.5 * u, 7.5 * u, 7 * u, 5 * u), u, u);
        return true;
    }
    if (shape == QLatin1String("antenna")) {
        painter.drawArc(QRectF(4.5 * u, 4.5 * u, 7 * u, 7 * u), -50 * 16, 100 * 16);
        painter.drawArc(QRectF(4.5 * u, 4.5 * u, 7 * u, 7 * u), 130 * 16, 100 * 16);
        painter.drawArc(QRectF(2.5 * u, 2.5 * u, 11 * u, 11 * u), -45 * 16, 90 * 16);
        painter.drawArc(QRectF(2.5 * u, 2.5 * u, 11 * u, 11 * u), 135 * 16, 90 * 16);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::white);
        painter.drawEllipse(QPointF(8 * u, 8 * u), 1.4 * u, 1.4 * u);
        return true;
    }
    if (shape == QLatin1String("laptop")) {
        painter.drawRect(QRectF(4.5 * u, 4.5 * u, 7 * u, 5 * u));
        painter.drawLine(QPointF(3 * u, 11.5 * u), QPointF(13 * u, 11.5 * u));
        return true;
    }
    return false;
}

const QHash<QString, SymbolLook>& looks() {
    static const QHash<QString, SymbolLook> table{
        {"gearshape", {{"preferences-system"}, QColor(0x6b, 0x72, 0x80), QString::fromUtf8("\u2699")}},
        {"sparkles", {{"starred", "emblem-favorite"}, QColor(0x8b, 0x5c, 0xf6), QString::fromUtf8("\u2726")}},
        {"lock.shield",
         {{"security-high", "channel-secure"}, QColor(0x25, 0x63, 0xeb), QStringLiteral("lock")}},
        {"antenna.radiowaves.left.and.right",
         {{"network-wireless", "network-transmit-receive"},
          QColor(0x0d, 0x94, 0x88),
          QStringLiteral("antenna")}},
        {"info.circle",
         {{"help-about", "dialog-information"}, QColor(0x3b, 0x82, 0xf6), QStringLiteral("i")}},
        {"checkmark.seal.fill",
         {{"emblem-ok", "emblem-default"}, QColor(0x16, 0xa3, 0x4a), QString::fromUtf8("\u2713")}},
        {"checkmark.circle.fill",
         {{"emblem-ok", "emblem-default"}, QColor(0x16, 0xa3, 0x4a), QString::fromUtf8("\u2713")}},
        {"exclamationmark.triangle.fill",
         {{"dialog-warning"}, QColor(0xea, 0x8a, 0x00), QStringLiteral("!")}},
        {"minus.circle.fill", {{"list-remove"}, QColor(0xdc, 0x26, 0x26), QString::fromUtf8("\u2212")}},
        {"plus.circle", {{"list-add"}, QColor(0x25, 0x63, 0xeb), QStringLiteral("+")}},
        {"square.and.arrow.down",
         {{"document-save", "download"}, QColor(0x25, 0x63, 0xeb), QString::fromUtf8("\u2193")}},
        {"square.and.arrow.down.on.square",
         {{"system-software-install", "document-save"},
          QColor(0x25, 0x63, 0xeb),
          QString::fromUtf8("\u2193")}},
        {"arrow.clockwise", {{"view-refresh"}, QColor(0x47, 0x55, 0x69), QString::fromUtf8("\u21bb")}},
        {"trash", {{"edit-delete", "user-trash"}, QColor(0xdc, 0x26, 0x26), QString::fromUtf8("\u2715")}},
        {"bolt.circle", {{"media-playback-start"}, QColor(0xea, 0x8a, 0x00), QString::fromUtf8("\u26a1")}},
        {"stop.circle", {{"media-playback-stop"}, QColor(0xdc, 0x26, 0x26), QString::fromUtf8("\u25a0")}},
        {"laptopcomputer.and.arrow.down",
         {{"computer-laptop", "computer"}, QColor(0x47, 0x55, 0x69), QStringLiteral("laptop")}},
        {"network",
         {{"network-wired", "network-workgroup"}, QColor(0x0d, 0x94, 0x88), QString::fromUtf8("\u25ce")}},
        {"arrow.down.circle",
         {{"go-down", "download"}, QColor(0x25, 0x63, 0xeb), QString::fromUtf8("\u2193")}},
        {"circle.dotted",
         {{"content-loading", "process-working"}, QColor(0x94, 0xa3, 0xb8), QString::fromUtf8("\u2026")}},
    };
    return table;
}

QPixmap drawBadge(const SymbolLook& look, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(look.color);
    const qreal inset = size * 0.06;
    painter.drawEllipse(QRectF(inset, inset, size - 2 * inset, size - 2 * inset));
    if (drawShape(painter, look.glyph, size)) {
        return pixmap;
    }
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setPixelSize(qMax(6, int(size * 0.62)));
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(0, 0, size, size), Qt::AlignCenter, look.glyph);
    return pixmap;
}

} // namespace

QIcon drawnSettingsIcon(const QString& symbol) {
    const SymbolLook look =
        looks().value(symbol, SymbolLook{{}, QColor(0x6b, 0x72, 0x80), QStringLiteral("?")});
    QIcon icon;
    for (int size : {16, 20, 24, 32, 48}) {
        icon.addPixmap(drawBadge(look, size));
    }
    return icon;
}

QIcon settingsIcon(const QString& symbol) {
    for (const QString& name : looks().value(symbol).themeNames) {
        if (QIcon::hasThemeIcon(name)) {
            return QIcon::fromTheme(name);
        }
    }
    return drawnSettingsIcon(symbol);
}

} // namespace perchwell
