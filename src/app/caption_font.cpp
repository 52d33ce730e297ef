#include "app/caption_font.h"

#include "config/settings.h"

#include <QColorDialog>
#include <QFontDialog>

void ChooseCaptionFont(QWidget* parent)
{
    SettingsRecord& record = gSettings.record;
    QFontDialog fonts(FontFromLogFont(record.captionFont), parent);
    fonts.setWindowTitle("Closed Captions");
    if (fonts.exec() != QDialog::Accepted)
        return;
    record.captionFont = LogFontFromFont(fonts.selectedFont());
    QColorDialog colors(ColorFromColorRef(record.captionColor), parent);
    colors.setWindowTitle("Closed Caption Colour");
    if (colors.exec() == QDialog::Accepted)
        record.captionColor = ColorRefFromColor(colors.selectedColor());
}
