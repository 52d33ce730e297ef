#include "capture/captions.h"

#include "platform/capture/line21.h"
#include "platform/clock.h"

#include <QPainter>

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>

namespace {

constexpr int kRowCount = 15;
constexpr int kBottomRow = kRowCount - 1;
constexpr int kShownColumns = 32;
constexpr int kLastColumn = kShownColumns - 1;
constexpr int kRowCells = kShownColumns + 1;  // room for the terminating zero

// A row replaced within this time of being shown stays this long; any
// other shown row goes after kShownMs.
constexpr uint32_t kRecentMs = 1000;
constexpr uint32_t kShownMs = 5000;

constexpr int kMinimumMargin = 40;

enum CaptionMode : int32_t { kNoMode = 0, kRollUp = 1, kPopOn = 2, kPaintOn = 3 };

struct CaptionRow {
    uint8_t text[kRowCells];  // code page 1252, zero-terminated
    uint8_t hasText;
    uint8_t expireSoon;
    uint8_t startColumn;  // where the first character was written
};

struct CaptionDecoder {
    int32_t mode;
    CaptionRow working[kRowCount];  // written by the caption data
    CaptionRow display[kRowCount];  // what the overlay shows
    int32_t rollUpRows;             // 2-4 in roll-up; 15 after a full clear
    int32_t baseRow;                // the bottom row of the roll-up window
    int32_t cursorColumn;           // 0-32
    int32_t cursorRow;
    uint16_t lastPair;  // broadcasters send control codes twice: the copy is skipped
    int32_t controlChannel;  // the data channel of the last control code; only 0 is shown
    uint32_t displayTimes[kRowCount];  // tick count of each display row's last refresh
};

std::mutex decoderLock;
CaptionDecoder decoder{};  // guarded by decoderLock

// Commands of the first field, channel bit cleared. Delete to end of row,
// flash on and resume text display change nothing here.
constexpr uint16_t kResumeCaptionLoading = 0x1420;
constexpr uint16_t kBackspace = 0x1421;
constexpr uint16_t kRollUp2 = 0x1425;
constexpr uint16_t kRollUp3 = 0x1426;
constexpr uint16_t kRollUp4 = 0x1427;
constexpr uint16_t kResumeDirectCaptioning = 0x1429;
constexpr uint16_t kTextRestart = 0x142A;
constexpr uint16_t kEraseDisplayed = 0x142C;
constexpr uint16_t kCarriageReturn = 0x142D;
constexpr uint16_t kEraseNonDisplayed = 0x142E;
constexpr uint16_t kEndOfCaption = 0x142F;
constexpr uint16_t kTabOffset1 = 0x1721;
constexpr uint16_t kTabOffset2 = 0x1722;
constexpr uint16_t kTabOffset3 = 0x1723;

// Second bytes 0x30-0x3F after 0x11 or 0x19.
constexpr std::array<uint8_t, 16> kSpecialCharacters = {0xAE, 0xB0, 0xBD, 0xBF, 0xAF, 0xA2, 0xA3, 0xF7,
                                                        0xE0, 0x20, 0xE8, 0xE2, 0xEA, 0xEE, 0xF4, 0xFB};

// Entries 0-31 follow 0x12 or 0x1A, entries 32-63 follow 0x13 or 0x1B.
constexpr std::array<uint8_t, 64> kExtendedCharacters = {
    0xC1, 0xC9, 0xD3, 0xDA, 0xDC, 0xFC, 0x84, 0xA1, 0x80, 0x27, 0x83, 0xA9, 0x89, 0xB0, 0x22, 0x22,
    0xC0, 0xC2, 0xC7, 0xC8, 0xCA, 0xCB, 0xEB, 0xCE, 0xCF, 0xEF, 0xD4, 0xD9, 0xF9, 0xDB, 0xAB, 0xBB,
    0xC3, 0xE3, 0xCD, 0xCC, 0xEC, 0xD2, 0xF2, 0xD5, 0xF5, 0x85, 0x87, 0x81, 0x82, 0x83, 0x86, 0x88,
    0xC4, 0xE4, 0xD6, 0xF6, 0xDF, 0xA5, 0xA4, 0x86, 0xC5, 0xE5, 0xD8, 0xF8, 0x20, 0x20, 0x20, 0x20};

// Preamble address codes with their low five bits cleared, by caption row.
constexpr std::array<uint16_t, kRowCount> kPreambleRows = {0x1140, 0x1160, 0x1240, 0x1260, 0x1540,
                                                           0x1560, 0x1640, 0x1660, 0x1740, 0x1760,
                                                           0x1040, 0x1340, 0x1360, 0x1440, 0x1460};

// Code page 1252 at 0x80-0x9F, where it parts from Latin-1. The five codes
// it leaves unassigned keep their Latin-1 meaning, as Windows converts them.
constexpr std::array<char16_t, 32> kCodePage1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool MayWrite(const CaptionDecoder& d)
{
    return d.mode != kNoMode && d.controlChannel == 0;
}

// The i-th row of the roll-up window, counted from its top.
int WindowRow(const CaptionDecoder& d, int i)
{
    const int row = d.baseRow - d.rollUpRows + 1 + i;
    return row < 0 ? row + kRowCount : row;
}

void WriteCharacter(CaptionDecoder& d, uint8_t character)
{
    CaptionRow& row = d.working[d.cursorRow];
    if (d.cursorColumn == kShownColumns)
        d.cursorColumn = kLastColumn;  // a full row keeps overwriting its last cell
    row.text[d.cursorColumn] = character;
    row.text[d.cursorColumn + 1] = 0;
    if (!row.hasText) {
        // Roll-up rows keep what an earlier line left before the cursor.
        if (d.mode != kRollUp)
            std::memset(row.text, 0, static_cast<size_t>(d.cursorColumn));
        row.startColumn = static_cast<uint8_t>(d.cursorColumn);
        row.hasText = 1;
    }
    ++d.cursorColumn;
}

// An extended character replaces the basic one sent before it as a
// fall-back for decoders without the extended set.
void StepBack(CaptionDecoder& d)
{
    CaptionRow& row = d.working[d.cursorRow];
    if (d.cursorColumn > 0)
        --d.cursorColumn;
    row.text[d.cursorColumn] = 0;
    if (!row.hasText) {
        row.startColumn = static_cast<uint8_t>(d.cursorColumn);
        row.hasText = 1;
    }
}

// Rows are cleared in the working rows; a shown row that was only just
// refreshed stays in view a little longer, so that it can be read.
void ClearRow(CaptionDecoder& d, int row, uint32_t now)
{
    d.working[row].hasText = 0;
    if (now - d.displayTimes[row] <= kRecentMs)
        d.display[row].expireSoon = 1;
    else
        d.display[row].hasText = 0;
    std::memset(d.working[row].text, 0, kRowCells);
}

void ClearAll(CaptionDecoder& d)
{
    const uint32_t now = GetTickCount();
    for (int row = 0; row < kRowCount; ++row)
        ClearRow(d, row, now);
    d.rollUpRows = kRowCount;
    d.baseRow = kBottomRow;
    d.cursorColumn = 0;
    d.cursorRow = kBottomRow;
}

void Commit(CaptionDecoder& d)
{
    for (int i = 0; i < d.rollUpRows; ++i) {
        CaptionRow& row = d.working[(d.baseRow - i + kRowCount) % kRowCount];
        if (!row.hasText && d.mode != kRollUp) {
            std::memset(row.text, 0, kShownColumns);
            continue;
        }
        uint8_t* shownEnd = row.text + kShownColumns;
        uint8_t* first = std::find_if(row.text, shownEnd, [](uint8_t cell) { return cell != 0; });
        if (first != shownEnd) {
            row.startColumn = static_cast<uint8_t>(first - row.text);
            row.hasText = 1;
        }
    }
}

void ExpireRows(CaptionDecoder& d, uint32_t now)
{
    for (int r = 0; r < kRowCount; ++r) {
        CaptionRow& row = d.display[r];
        const uint32_t shownFor = now - d.displayTimes[r];
        if (row.expireSoon && shownFor > kRecentMs) {
            row.expireSoon = 0;
            row.hasText = 0;
        } else if (shownFor > kShownMs) {
            row.hasText = 0;
        }
    }
}

// Brings the window's written rows into view. Painting is left to the
// video thread's DrawCaptions, which follows with the next frame.
void RefreshRows(CaptionDecoder& d)
{
    const uint32_t now = GetTickCount();
    for (int i = 0; i < d.rollUpRows; ++i) {
        const int row = WindowRow(d, i);
        if (d.working[row].hasText) {
            d.display[row] = d.working[row];
            d.displayTimes[row] = now;
        }
    }
    ExpireRows(d, now);
}

void CarriageReturn(CaptionDecoder& d)
{
    d.cursorColumn = 0;
    d.cursorRow = (d.cursorRow + 1) % kRowCount;
    d.baseRow = (d.baseRow + 1) % kRowCount;
    ClearRow(d, d.cursorRow, GetTickCount());
    Commit(d);
    RefreshRows(d);
}

void StartRollUp(CaptionDecoder& d, int rows)
{
    d.mode = kRollUp;
    d.rollUpRows = rows;
    d.baseRow = d.cursorRow;
}

void HandlePreamble(CaptionDecoder& d, uint16_t code)
{
    const int indent = code & 0x10 ? ((code & 0x1E) - 0x10) * 2 : 0;
    const auto* row = std::find(kPreambleRows.begin(), kPreambleRows.end(), code & ~0x1F);
    if (row == kPreambleRows.end())
        return;  // an address no row has
    // Roll-up lines stay on the window's bottom row wherever they are addressed.
    if (d.mode == kPopOn || d.mode == kPaintOn)
        d.cursorRow = static_cast<int32_t>(row - kPreambleRows.begin());
    std::memset(d.working[d.cursorRow].text, 0, static_cast<size_t>(indent));
    d.cursorColumn = indent;
}

// Unknown codes are ignored; mid-row codes (colours, italics) are not drawn.
void HandleControl(CaptionDecoder& d, uint16_t code)
{
    d.controlChannel = code >> 11 & 1;
    code &= ~0x0800;
    if (code >= 0x1120 && code <= 0x112F)
        code &= ~1;  // the underline bit of a mid-row code
    if (code >= 0x1520 && code <= 0x152F)
        code -= 0x0100;  // the second field's commands act as the first's
    if ((code & 0xF840) == 0x1040) {
        HandlePreamble(d, code);
        return;
    }
    switch (code) {
    case kResumeCaptionLoading:
        d.mode = kPopOn;
        break;
    case kBackspace:
        d.cursorColumn = std::max(d.cursorColumn - 1, 0);
        break;
    case kRollUp2:
    case kRollUp3:
    case kRollUp4:
        StartRollUp(d, code - kRollUp2 + 2);
        break;
    case kResumeDirectCaptioning:
        d.mode = kPaintOn;
        ClearAll(d);
        break;
    case kTextRestart:
    case kEraseNonDisplayed:
        ClearAll(d);
        break;
    case kEraseDisplayed:
        if (d.mode == kRollUp)
            ClearAll(d);
        break;
    case kCarriageReturn:
        CarriageReturn(d);
        break;
    case kEndOfCaption:
        d.mode = kPopOn;
        Commit(d);
        RefreshRows(d);
        break;
    case kTabOffset1:
    case kTabOffset2:
    case kTabOffset3:
        d.cursorColumn = std::min(d.cursorColumn + (code - kTabOffset1 + 1), kLastColumn);
        break;
    default:
        break;
    }
}

bool IsSpecialCharacter(uint8_t first, uint8_t second)
{
    return (first & ~0x08) == 0x11 && second >= 0x30 && second <= 0x3F;
}

bool IsExtendedCharacter(uint8_t first, uint8_t second)
{
    return (first == 0x12 || first == 0x13 || first == 0x1A || first == 0x1B) && second >= 0x20 && second <= 0x3F;
}

uint8_t ExtendedCharacter(uint8_t first, uint8_t second)
{
    // The second set (0x13, 0x1B) takes entries 32-63, which its second bytes number.
    return kExtendedCharacters[first & 1 ? second : second - 0x20];
}

// One pair with parity removed; wroteText tells the batch to refresh.
void DecodePair(CaptionDecoder& d, uint8_t first, uint8_t second, bool& wroteText)
{
    const uint16_t pair = static_cast<uint16_t>(first << 8 | second);
    if (IsSpecialCharacter(first, second)) {
        if (pair == d.lastPair) {
            d.lastPair = 0;  // a third copy is a character of its own
            return;
        }
        if (MayWrite(d)) {
            WriteCharacter(d, kSpecialCharacters[second - 0x30]);
            wroteText = true;
        }
    } else if (IsExtendedCharacter(first, second)) {
        if (MayWrite(d)) {
            StepBack(d);
            WriteCharacter(d, ExtendedCharacter(first, second));
            wroteText = true;
        }
    } else if (first >= 0x10 && first <= 0x1F) {
        if (pair == d.lastPair)
            return;
        HandleControl(d, pair);
    } else if (MayWrite(d) && first >= 0x20) {
        WriteCharacter(d, first);
        wroteText = true;
        if (second >= 0x20)
            WriteCharacter(d, second);
    }
    d.lastPair = pair;
}

QString RowText(const CaptionRow& row)
{
    QString text;
    for (int column = row.startColumn; column < kRowCells && row.text[column] != 0; ++column)
        text += CharFromCodePage1252(row.text[column]);
    return text;
}

QStringList VisibleLines(const CaptionDecoder& d)
{
    QStringList lines;
    for (int i = 0; i < d.rollUpRows; ++i) {
        const CaptionRow& row = d.display[WindowRow(d, i)];
        if (row.hasText)
            lines.append(RowText(row));
    }
    return lines;
}

// Centred lines from the margin above the picture's bottom down, each on
// an opaque white box, as the stored font height lays them out.
void PaintLines(QImage& surface, const CaptionStyle& style, const QStringList& lines)
{
    const int rowHeight = style.heightTenths / 5;
    const int margin = std::max((rowHeight - 4) * 3, kMinimumMargin);
    QPainter painter(&surface);
    painter.setFont(style.font);
    painter.setPen(style.colour);
    painter.setBackgroundMode(Qt::OpaqueMode);
    painter.setBackground(Qt::white);
    const QFontMetrics metrics = painter.fontMetrics();
    int lineOffset = 0;
    for (const QString& line : lines) {
        const int width = metrics.horizontalAdvance(line);
        const QRect box((surface.width() - width) / 2, surface.height() - margin + lineOffset, width, rowHeight);
        QRect drawn;
        painter.drawText(box, Qt::AlignLeft | Qt::AlignTop, line, &drawn);
        lineOffset += drawn.height();
    }
}

} // namespace

int DecodeCaptions(const uint8_t* bytes, int count)
{
    std::lock_guard hold(decoderLock);
    bool wroteText = false;
    for (int i = 0; i + 1 < count; i += 2) {
        if (!HasOddParity(bytes[i]) || !HasOddParity(bytes[i + 1]))
            return -1;
        DecodePair(decoder, bytes[i] & 0x7F, bytes[i + 1] & 0x7F, wroteText);
    }
    // Pop-on text waits hidden for the end-of-caption command.
    if (wroteText && decoder.mode != kPopOn)
        RefreshRows(decoder);
    return 0;
}

void ResetCaptionDecoder()
{
    std::lock_guard hold(decoderLock);
    decoder = CaptionDecoder{};
}

void DrawCaptions(QImage& surface, const CaptionStyle& style)
{
    QStringList lines;
    {
        std::lock_guard hold(decoderLock);
        lines = VisibleLines(decoder);
        ExpireRows(decoder, GetTickCount());
    }
    if (!lines.isEmpty() && !surface.isNull())
        PaintLines(surface, style, lines);
}

QStringList VisibleCaptionLines()
{
    std::lock_guard hold(decoderLock);
    return VisibleLines(decoder);
}

QString CaptionRowText(int row)
{
    if (row < 0 || row >= kRowCount)
        return {};
    std::lock_guard hold(decoderLock);
    const CaptionRow& working = decoder.working[row];
    return working.hasText ? RowText(working) : QString();
}

QChar CharFromCodePage1252(uint8_t code)
{
    if (code >= 0x80 && code <= 0x9F)
        return QChar(kCodePage1252High[code - 0x80]);
    return QChar(static_cast<char16_t>(code));  // the rest of the page is Latin-1
}
