#include "samples/Scramble.h"

#include <gtest/gtest.h>

using namespace parcelon;
using namespace Qt::StringLiterals;

namespace {

QByteArray bytes(std::initializer_list<int> codes)
{
    QByteArray result;
    for (int code : codes)
        result.append(static_cast<char>(code));
    return result;
}

} // namespace

TEST(Scramble, SumsAbove255WrapToOneAnd255StaysForEveryKeyCode)
{
    for (int k : {'a', 'q', 'z'}) {
        const QByteArray key = bytes({k, 'b'});
        EXPECT_EQ(scrambleBytes(bytes({256 - k}), key), bytes({1})) << k;
        EXPECT_EQ(scrambleBytes(bytes({255 - k}), key), bytes({255})) << k;
        EXPECT_EQ(unscrambleBytes(bytes({1}), key), bytes({256 - k})) << k;
        EXPECT_EQ(unscrambleBytes(bytes({255}), key), bytes({255 - k})) << k;
    }
    // The key starts again after its last byte.
    EXPECT_EQ(scrambleBytes("AAAAA", "\x01\x02"), QByteArray("BCBCB"));
    // Code 0 does not come back: it returns as 255.
    EXPECT_EQ(unscrambleBytes(scrambleBytes(bytes({0}), "q"), "q"), bytes({255}));
}

TEST(Scramble, EveryByteFromOneTo255ComesBack)
{
    QByteArray all;
    for (int code = 1; code <= 255; ++code)
        all.append(static_cast<char>(code));
    const QByteArray key = kScrambleKey.toLatin1();
    const QByteArray scrambled = scrambleBytes(all, key);
    EXPECT_EQ(scrambled.size(), all.size());
    EXPECT_FALSE(scrambled.contains('\0'));
    EXPECT_NE(scrambled, all);
    EXPECT_EQ(unscrambleBytes(scrambled, key), all);
}

TEST(Scramble, TextsGoByTheirUtf8BytesHeldAsCharactersUpTo255)
{
    // The key's second letter "n" (110) meets the second byte of each.
    EXPECT_EQ(ScrambleText(u"\u03d1"_s, kScrambleKey), QString(QChar(0xcf + 'q' - 255)) + QChar(255)); // CF 91
    EXPECT_EQ(ScrambleText(u"\u03d2"_s, kScrambleKey), QString(QChar(0xcf + 'q' - 255)) + QChar(1));   // CF 92
    const QString path = u"/home/jürgen/Почта|/data/日本/\U0001F4E7 mail.pst"_s;
    const QString stored = ScrambleText(path, kScrambleKey);
    EXPECT_EQ(stored.size(), path.toUtf8().size());
    for (QChar c : stored)
        EXPECT_TRUE(c.unicode() >= 1 && c.unicode() <= 255);
    EXPECT_EQ(UnscrambleText(stored, kScrambleKey), path);
    EXPECT_EQ(UnscrambleText(QString(), kScrambleKey), QString());
    // Another key reads something else, or nothing.
    EXPECT_NE(UnscrambleText(ScrambleText(u"/samples/a.pst"_s, u"abcdefgh"), kScrambleKey), u"/samples/a.pst"_s);
}

TEST(Scramble, DamagedValuesGiveNothing)
{
    const QString stored = ScrambleText(u"/samples/a.pst"_s, kScrambleKey);
    EXPECT_EQ(UnscrambleText(stored + QChar(0x100), kScrambleKey), std::nullopt);
    // A lone continuation byte is no UTF-8.
    EXPECT_EQ(UnscrambleText(QString(QChar(0x80 + 'q')), kScrambleKey), std::nullopt);
}
