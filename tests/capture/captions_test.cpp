// Closed captions: the decoder's screen as byte pairs build it, and the
// overlay it paints into a picture.

#include "capture/caption_style.h"
#include "capture/captions.h"
#include "config/settings.h"
#include "support/test_application.h"

#include <gtest/gtest.h>

#include <QFontMetrics>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstring>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr uint16_t kLoadPopOn = 0x1420;
constexpr uint16_t kBackspace = 0x1421;
constexpr uint16_t kRollUp2 = 0x1425;
constexpr uint16_t kPaintOn = 0x1429;
constexpr uint16_t kCarriageReturn = 0x142D;
constexpr uint16_t kEraseHidden = 0x142E;
constexpr uint16_t kEndOfCaption = 0x142F;
constexpr uint16_t kRow14 = 0x1460;  // preamble of the bottom row, column 0
constexpr uint16_t kRow13 = 0x1440;
constexpr uint16_t kSecondChannel = 0x0800;
constexpr uint16_t kRegistered = 0x1130;  // special characters
constexpr uint16_t kDegree = 0x1131;
constexpr uint16_t kEGrave = 0x113A;

constexpr int kWidth = 320;
constexpr int kHeight = 240;

QString Utf16(const char16_t* text)
{
    return QString::fromUtf16(text);
}

uint8_t WithOddParityBit(uint8_t byte)
{
    byte &= 0x7F;
    return std::popcount(byte) % 2 == 1 ? byte : static_cast<uint8_t>(byte | 0x80);
}

// Byte pairs as a broadcaster sends them, every byte with odd parity.
class CaptionBytes {
public:
    CaptionBytes& Code(uint16_t code, int copies = 1)
    {
        for (int i = 0; i < copies; ++i)
            Add(static_cast<uint8_t>(code >> 8), static_cast<uint8_t>(code & 0xFF));
        return *this;
    }
    // Two characters a pair; an odd one out is paired with a zero.
    CaptionBytes& Text(std::string_view text)
    {
        for (size_t i = 0; i < text.size(); i += 2)
            Add(static_cast<uint8_t>(text[i]), i + 1 < text.size() ? static_cast<uint8_t>(text[i + 1]) : 0);
        return *this;
    }
    CaptionBytes& Null()
    {
        Add(0, 0);
        return *this;
    }
    // Flips the parity bit of the last byte added.
    CaptionBytes& SpoilLast()
    {
        bytes_.back() ^= 0x80;
        return *this;
    }
    int Decode() const { return DecodeCaptions(bytes_.data(), static_cast<int>(bytes_.size())); }

private:
    void Add(uint8_t first, uint8_t second)
    {
        bytes_.push_back(WithOddParityBit(first));
        bytes_.push_back(WithOddParityBit(second));
    }

    std::vector<uint8_t> bytes_;
};

// Paint-on on the bottom row: text shows as soon as it is written.
CaptionBytes PaintOnBottomRow()
{
    CaptionBytes bytes;
    bytes.Code(kPaintOn, 2).Code(kRow14, 2);
    return bytes;
}

CaptionStyle StyleOfHeight(int tenths)
{
    LogFont logFont{};
    logFont.height = tenths;
    std::strcpy(logFont.faceName, "Arial");
    return {FontFromLogFont(logFont), Qt::blue, tenths};
}

QImage BlackPicture()
{
    QImage picture(kWidth, kHeight, QImage::Format_BGR888);
    picture.fill(Qt::black);
    return picture;
}

// The rows and columns of a picture that hold pure white: the caption boxes.
struct WhiteArea {
    int top = -1;
    int bottom = -1;
    int left = -1;
};

WhiteArea FindWhite(const QImage& picture)
{
    WhiteArea area;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            if (picture.pixel(x, y) != qRgb(255, 255, 255))
                continue;
            if (area.top < 0)
                area.top = y;
            area.bottom = y;
            if (area.left < 0 || x < area.left)
                area.left = x;
        }
    }
    return area;
}

class CaptionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Application();  // fonts need the application
        ResetCaptionDecoder();
    }
    void TearDown() override { ResetCaptionDecoder(); }
};

TEST_F(CaptionTest, ControlCodesSentTwiceAreTakenOnce)
{
    // A carriage return moves to the next row once for two or three copies.
    ASSERT_EQ(0, PaintOnBottomRow().Text("AB").Code(kCarriageReturn, 2).Text("CD").Decode());
    EXPECT_EQ("AB", CaptionRowText(14));
    EXPECT_EQ("CD", CaptionRowText(0));
    ASSERT_EQ(0, CaptionBytes().Code(kCarriageReturn, 3).Text("EF").Decode());
    EXPECT_EQ("EF", CaptionRowText(1));
    EXPECT_EQ("", CaptionRowText(2));

    // Only the copy right behind is skipped: a null pair between counts both.
    ASSERT_EQ(0, CaptionBytes().Code(kCarriageReturn).Null().Code(kCarriageReturn).Text("GH").Decode());
    EXPECT_EQ("", CaptionRowText(2));
    EXPECT_EQ("GH", CaptionRowText(3));

    // A doubled backspace steps back one cell.
    ASSERT_EQ(0, CaptionBytes().Code(kBackspace, 2).Text("I").Decode());
    EXPECT_EQ("GI", CaptionRowText(3));

    // A doubled erase clears every row.
    ASSERT_EQ(0, CaptionBytes().Code(kEraseHidden, 2).Decode());
    for (int row = 0; row < 15; ++row)
        EXPECT_EQ("", CaptionRowText(row)) << row;
}

TEST_F(CaptionTest, ARepeatedSpecialCharacterIsWrittenOnceAndAThirdCopyAgain)
{
    ASSERT_EQ(0, PaintOnBottomRow().Code(kRegistered, 2).Decode());
    EXPECT_EQ(Utf16(u"®"), CaptionRowText(14));
    ASSERT_EQ(0, CaptionBytes().Code(kRegistered).Decode());
    EXPECT_EQ(Utf16(u"®®"), CaptionRowText(14));
}

TEST_F(CaptionTest, The33rdCharacterOfARowOverwritesThe32nd)
{
    const std::string_view full = "abcdefghijklmnopqrstuvwxyz012345";
    ASSERT_EQ(0, PaintOnBottomRow().Text(full).Decode());
    EXPECT_EQ(QString::fromLatin1(full), CaptionRowText(14));
    ASSERT_EQ(0, CaptionBytes().Text("!?").Decode());
    EXPECT_EQ("abcdefghijklmnopqrstuvwxyz01234?", CaptionRowText(14));
}

TEST_F(CaptionTest, PopOnTextIsDrawnOnlyAfterTheEndOfCaption)
{
    const CaptionStyle style = StyleOfHeight(110);
    ASSERT_EQ(0, CaptionBytes().Code(kLoadPopOn, 2).Code(kEraseHidden, 2).Code(kRow14, 2).Text("HELLO").Decode());
    EXPECT_EQ("HELLO", CaptionRowText(14)) << "written into the hidden rows";
    QImage picture = BlackPicture();
    DrawCaptions(picture, style);
    EXPECT_EQ(BlackPicture(), picture);

    ASSERT_EQ(0, CaptionBytes().Code(kEndOfCaption, 2).Decode());
    EXPECT_EQ(QStringList{"HELLO"}, VisibleCaptionLines());
    DrawCaptions(picture, style);
    EXPECT_NE(BlackPicture(), picture);
    EXPECT_GE(FindWhite(picture).top, 0);
}

TEST_F(CaptionTest, RollUpShowsTheLastTwoThreeOrFourLines)
{
    const CaptionStyle style = StyleOfHeight(110);
    for (int rows = 2; rows <= 4; ++rows) {
        ResetCaptionDecoder();
        CaptionBytes bytes;
        bytes.Code(static_cast<uint16_t>(kRollUp2 + rows - 2), 2);
        QStringList sent;
        for (int line = 1; line <= 6; ++line) {
            sent.append(QString("LINE %1").arg(line));
            bytes.Code(kCarriageReturn, 2).Code(kRow14, 2).Text(sent.back().toStdString());
        }
        ASSERT_EQ(0, bytes.Decode());
        EXPECT_EQ(sent.mid(6 - rows), VisibleCaptionLines()) << rows << " rows";

        // The boxes stack down from the margin, one line height each; what
        // passes the picture's bottom is cut off.
        QImage picture = BlackPicture();
        DrawCaptions(picture, style);
        const WhiteArea white = FindWhite(picture);
        EXPECT_EQ(kHeight - 54, white.top);
        const int lineHeight = QFontMetrics(style.font, &picture).height();
        EXPECT_NEAR(std::min(rows * lineHeight, 54), white.bottom - white.top + 1, 1) << rows << " rows";
    }
}

TEST_F(CaptionTest, TheMarginIs54PixelsForHeight110And40For80)
{
    for (const auto& [tenths, margin] : {std::pair{110, 54}, std::pair{80, 40}}) {
        ResetCaptionDecoder();
        ASSERT_EQ(0, PaintOnBottomRow().Text("MARGIN").Decode());
        const CaptionStyle style = StyleOfHeight(tenths);
        QImage picture = BlackPicture();
        DrawCaptions(picture, style);
        const WhiteArea white = FindWhite(picture);
        EXPECT_EQ(kHeight - margin, white.top) << tenths;
        EXPECT_LT(white.bottom, kHeight - margin + tenths / 5) << "clipped to the row rectangle";
        const int width = QFontMetrics(style.font, &picture).horizontalAdvance("MARGIN");
        EXPECT_EQ((kWidth - width) / 2, white.left) << "centred";
    }
}

TEST_F(CaptionTest, TwoRowsStackUnderEachOtherCentredEach)
{
    const CaptionStyle style = StyleOfHeight(110);
    ASSERT_EQ(0, CaptionBytes()
                     .Code(kLoadPopOn, 2)
                     .Code(kEraseHidden, 2)
                     .Code(kRow13, 2)
                     .Text("TOP LINE")
                     .Code(kRow14, 2)
                     .Text("BOTTOM")
                     .Code(kEndOfCaption, 2)
                     .Decode());
    EXPECT_EQ((QStringList{"TOP LINE", "BOTTOM"}), VisibleCaptionLines());
    QImage picture = BlackPicture();
    DrawCaptions(picture, style);
    const QFontMetrics metrics(style.font, &picture);
    const int secondTop = kHeight - 54 + metrics.height();
    const int bottomLeft = (kWidth - metrics.horizontalAdvance("BOTTOM")) / 2;
    EXPECT_EQ(qRgb(255, 255, 255), picture.pixel(bottomLeft, secondTop + 1));
    EXPECT_EQ(qRgb(0, 0, 0), picture.pixel(bottomLeft - 1, secondTop + 1));
    int inkPixels = 0;
    for (int y = kHeight - 54; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            inkPixels += picture.pixel(x, y) == qRgb(0, 0, 255);
    EXPECT_GT(inkPixels, 20) << "the text in the style's colour";
}

TEST_F(CaptionTest, AParityErrorDropsTheRestOfTheBatch)
{
    ASSERT_EQ(0, PaintOnBottomRow().Decode());
    EXPECT_EQ(-1, CaptionBytes().Text("AB").Text("CD").SpoilLast().Text("EF").Decode());
    EXPECT_EQ("AB", CaptionRowText(14));
    EXPECT_TRUE(VisibleCaptionLines().isEmpty()) << "a failed batch is not shown";

    ASSERT_EQ(0, CaptionBytes().Text("GH").Decode());
    EXPECT_EQ(QStringList{"ABGH"}, VisibleCaptionLines());
}

TEST_F(CaptionTest, SecondChannelCaptionsAreNeverDrawn)
{
    ASSERT_EQ(0, CaptionBytes()
                     .Code(kLoadPopOn | kSecondChannel, 2)
                     .Code(kEraseHidden | kSecondChannel, 2)
                     .Code(kRow14 | kSecondChannel, 2)
                     .Text("HIDDEN")
                     .Code(kEndOfCaption | kSecondChannel, 2)
                     .Code(kPaintOn | kSecondChannel, 2)
                     .Text("ALSO HIDDEN")
                     .Decode());
    EXPECT_EQ("", CaptionRowText(14));
    QImage picture = BlackPicture();
    DrawCaptions(picture, StyleOfHeight(110));
    EXPECT_EQ(BlackPicture(), picture);

    ASSERT_EQ(0, PaintOnBottomRow().Text("SHOWN").Decode());
    EXPECT_EQ(QStringList{"SHOWN"}, VisibleCaptionLines());
}

TEST_F(CaptionTest, SpecialAndExtendedCharactersAreCodePage1252)
{
    // Each extended character takes the place of the basic one before it.
    ASSERT_EQ(0, PaintOnBottomRow()
                     .Code(kRegistered)
                     .Code(kDegree)
                     .Code(kEGrave)
                     .Text("A")
                     .Code(0x1220)  // A acute
                     .Text("E")
                     .Code(0x1228)  // 0x80, the euro sign
                     .Text("o")
                     .Code(0x1328)  // o tilde
                     .Text(".")
                     .Code(0x1329)  // 0x85, the ellipsis
                     .Decode());
    EXPECT_EQ(Utf16(u"®°èÁ€õ…"), CaptionRowText(14));

    EXPECT_EQ(QChar(u'€'), CharFromCodePage1252(0x80));
    EXPECT_EQ(QChar(u'…'), CharFromCodePage1252(0x85));
    EXPECT_EQ(QChar(u'Ÿ'), CharFromCodePage1252(0x9F));
    EXPECT_EQ(QChar(u'\u0081'), CharFromCodePage1252(0x81)) << "unassigned in the page";
    EXPECT_EQ(QChar(u'é'), CharFromCodePage1252(0xE9));
    EXPECT_EQ(QChar(u'A'), CharFromCodePage1252(0x41));
}

TEST_F(CaptionTest, ARowReplacedWithinASecondStaysASecondAnyOtherFiveSeconds)
{
    const CaptionStyle style = StyleOfHeight(110);
    QImage picture = BlackPicture();
    ASSERT_EQ(0, CaptionBytes().Code(kLoadPopOn, 2).Code(kEraseHidden, 2).Code(kRow14, 2).Text("SOON").Decode());
    ASSERT_EQ(0, CaptionBytes().Code(kEndOfCaption, 2).Code(kLoadPopOn, 2).Code(kEraseHidden, 2).Decode());
    DrawCaptions(picture, style);
    EXPECT_EQ(QStringList{"SOON"}, VisibleCaptionLines()) << "still shown just after its erase";
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    DrawCaptions(picture, style);
    EXPECT_TRUE(VisibleCaptionLines().isEmpty());

    ASSERT_EQ(0, PaintOnBottomRow().Text("LATER").Decode());
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    DrawCaptions(picture, style);
    EXPECT_EQ(QStringList{"LATER"}, VisibleCaptionLines());
    std::this_thread::sleep_for(std::chrono::milliseconds(4000));
    DrawCaptions(picture, style);
    EXPECT_TRUE(VisibleCaptionLines().isEmpty());
}

TEST(CaptionStyleTest, TheStyleIsTheStoredFontColourAndHeight)
{
    const SettingsRecord saved = gSettings.record;
    gSettings.record.captionFont = LogFont{};
    gSettings.record.captionFont.height = 80;
    std::strcpy(gSettings.record.captionFont.faceName, "Arial");
    gSettings.record.captionColor = 0x0000FF;
    const CaptionStyle style = CaptionStyleFromSettings();
    gSettings.record = saved;
    EXPECT_EQ(80, style.heightTenths);
    EXPECT_EQ(8, style.font.pointSize());
    EXPECT_EQ("Arial", style.font.family());
    EXPECT_EQ(QColor(Qt::red), style.colour);
}

} // namespace
