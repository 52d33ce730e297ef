#include "capture/caption_style.h"

#include <QFontInfo>

#include <cstring>

namespace {

constexpr uint8_t kDefaultCharSet = 1;
constexpr uint8_t kAntialiasedQuality = 4;
constexpr int kDefaultTenths = 110;

// A stored height of 0 or less would make an invisible font: the default
// stands in for it, for the font and the overlay's geometry alike.
int StoredTenths(const LogFont& logFont)
{
    return logFont.height > 0 ? logFont.height : kDefaultTenths;
}

} // namespace

LogFont LogFontFromFont(const QFont& font)
{
    LogFont logFont{};
    logFont.charSet = kDefaultCharSet;
    // A font sized in pixels has no point size of its own.
    const qreal points = font.pointSizeF() > 0 ? font.pointSizeF() : QFontInfo(font).pointSizeF();
    logFont.height = qRound(points * 10);
    logFont.italic = font.italic() ? 1 : 0;
    logFont.weight = font.bold() ? 700 : 400;
    logFont.underline = font.underline() ? 1 : 0;
    logFont.strikeOut = font.strikeOut() ? 1 : 0;
    logFont.quality = kAntialiasedQuality;
    const QByteArray face = font.family().isEmpty() ? QByteArray("Arial") : font.family().toUtf8();
    std::strncpy(logFont.faceName, face.constData(), sizeof logFont.faceName - 1);
    return logFont;
}

QFont FontFromLogFont(const LogFont& logFont)
{
    QFont font(QString::fromUtf8(logFont.faceName, qstrnlen(logFont.faceName, sizeof logFont.faceName)));
    font.setPointSizeF(StoredTenths(logFont) / 10.0);
    font.setBold(logFont.weight >= 600);
    font.setItalic(logFont.italic != 0);
    font.setUnderline(logFont.underline != 0);
    font.setStrikeOut(logFont.strikeOut != 0);
    return font;
}

uint32_t ColorRefFromColor(const QColor& color)
{
    return static_cast<uint32_t>(color.red()) | static_cast<uint32_t>(color.green()) << 8 |
           static_cast<uint32_t>(color.blue()) << 16;
}

QColor ColorFromColorRef(uint32_t colorRef)
{
    return QColor(colorRef & 0xFF, colorRef >> 8 & 0xFF, colorRef >> 16 & 0xFF);
}

CaptionStyle CaptionStyleFromSettings()
{
    const SettingsRecord& record = gSettings.record;
    return {FontFromLogFont(record.captionFont), ColorFromColorRef(record.captionColor),
            StoredTenths(record.captionFont)};
}
