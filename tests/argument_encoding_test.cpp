// The two ends of the transfer tools' argument encoding: Utils::argCyclicShiftEncode,
// which the runners use, and ArgumentDecoder, which the tools use.

#include <gtest/gtest.h>

#include <QJsonObject>
#include <QString>

#include <random>

#include "argument_decoder.h"
#include "utils.h"

namespace {

TEST(ArgumentEncoding, RotatesEachByteLeftByItsKeyDigit) {
    EXPECT_EQ(Utils::argCyclicShiftEncode(""), QString(""));
    // Key "5031764206": 0x41 rotated left by 5, 0, 3, 1, 7, 6, 4, 2, 0, 6 (a
    // digit 0 leaves the byte), then by the first digit again.
    EXPECT_EQ(QByteArray::fromBase64(Utils::argCyclicShiftEncode("AAAAAAAAAAA").toLatin1()),
              QByteArray("\x28\x41\x0a\x82\xa0\x50\x14\x05\x41\x50\x28", 11));
}

TEST(ArgumentEncoding, IsPaddedBase64WithoutBlanksOrQuotes) {
    const QString encoded = Utils::argCyclicShiftEncode("{\"a\": \"b c\"}\n");
    EXPECT_EQ(encoded.size() % 4, 0);
    EXPECT_FALSE(encoded.contains(' ') || encoded.contains('"') || encoded.contains('\n'));
}

TEST(ArgumentDecoding, InvertsTheEncodingForNonAsciiJson) {
    const QString json = QString::fromUtf8(
        "{\"local_filename\":\"C:/用户/文档 1/报告.zip\",\"oss_key\":\"ключ/ü😀\"}");
    QByteArray decoded;
    QString error;
    ASSERT_TRUE(ArgumentDecoder::decode(Utils::argCyclicShiftEncode(json), decoded, error));
    EXPECT_EQ(decoded, json.toUtf8());

    QJsonObject job;
    ASSERT_TRUE(ArgumentDecoder::decodeJob(Utils::argCyclicShiftEncode(json), job, error));
    EXPECT_EQ(job.value("oss_key").toString(), QString::fromUtf8("ключ/ü😀"));
}

TEST(ArgumentDecoding, InvertsTheEncodingForEveryLengthAndCharacter) {
    std::mt19937 random(7);
    for (int length = 0; length < 40; ++length) {
        QString text;
        for (int i = 0; i < length; ++i) text += QChar(static_cast<ushort>(1 + random() % 0xD000));
        QByteArray decoded;
        QString error;
        ASSERT_TRUE(ArgumentDecoder::decode(Utils::argCyclicShiftEncode(text), decoded, error));
        EXPECT_EQ(decoded, text.toUtf8()) << "length " << length;
    }
}

TEST(ArgumentDecoding, RejectsWhatIsNotAJobObject) {
    QByteArray json;
    QJsonObject job;
    QString error;
    for (const char* bad : {"abc", "ab=c", "a b=", "YWJj!==="}) {
        error.clear();
        EXPECT_FALSE(ArgumentDecoder::decode(bad, json, error)) << bad;
        EXPECT_FALSE(error.isEmpty());
    }
    EXPECT_FALSE(ArgumentDecoder::decodeJob(Utils::argCyclicShiftEncode("[1,2]"), job, error));
    EXPECT_FALSE(ArgumentDecoder::decodeJob(Utils::argCyclicShiftEncode("{\"a\":"), job, error));
}

}  // namespace
