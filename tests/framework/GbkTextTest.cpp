#include "framework/GbkText.h"

#include <gtest/gtest.h>

using tarvelo::fromGbk;
using tarvelo::toGbk;

TEST(GbkText, RoundTripsChineseAndAscii)
{
    const QString text = QStringLiteral("视频处理 Tarvelo 123");
    std::string gbk = toGbk(text);
    EXPECT_EQ(gbk.substr(0, 8), "\xCA\xD3\xC6\xB5\xB4\xA6\xC0\xED");
    EXPECT_EQ(fromGbk(gbk), text);
}

TEST(GbkText, NullAndEmptyReadAsEmptyText)
{
    EXPECT_TRUE(fromGbk(static_cast<const char*>(nullptr)).isEmpty());
    EXPECT_TRUE(fromGbk("").isEmpty());
    EXPECT_TRUE(toGbk(QString()).empty());
}

TEST(GbkText, InvalidBytesBecomeReplacementCharacters)
{
    const QChar bad(0xFFFD);
    // 0xFF is never a lead byte; 0x81 0x20 is a lead byte with a bad trail.
    EXPECT_EQ(fromGbk(std::string_view("a\xFF" "b")), QString("a") + bad + "b");
    EXPECT_EQ(fromGbk(std::string_view("\x81 x")), QString(bad) + " x");
    // A double-byte character cut off at the end of the text.
    EXPECT_EQ(fromGbk(std::string_view("ok\xD5")), QString("ok") + bad);
}

TEST(GbkText, CharactersOutsideGbkBecomeQuestionMarks)
{
    EXPECT_EQ(toGbk(QString::fromUtf8("a\xF0\x9F\x93\xB7" "b")), "a?b");  // a camera emoji
    EXPECT_EQ(toGbk(QString::fromUtf8("\xE2\x82\xAC")).size(), 1u);       // the euro sign is one byte
    // No look-alikes: Windows' best fit would write "a" for "ä" and "n" for "ñ".
    EXPECT_EQ(toGbk(QString::fromUtf8("\xC3\xA4\xC3\xB1")), "??");
    EXPECT_FALSE(tarvelo::gbkCanHold(QString::fromUtf8("\xC3\xA4")));
}

TEST(GbkText, LongTextConvertsWhole)
{
    QString text;
    for (int i = 0; i < 3000; ++i)
        text += QStringLiteral("摄像机");
    EXPECT_EQ(fromGbk(toGbk(text)), text);
}
