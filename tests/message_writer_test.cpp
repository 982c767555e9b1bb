// The transfer tools' "PROGRESS" and "RESULT" lines.

#include <gtest/gtest.h>

#include <QFile>

#include <cstdio>

#include "message_writer.h"

namespace {

TEST(MessageWriter, WritesOneLinePerMessage) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    {
        MessageWriter writer(file);
        writer.progress({"42", "a b", "7"});
        writer.failure("SUCCESS", "two\nlines");
        writer.failure("HTTP_ERROR", "");
        writer.failure("HTTP_ERROR", "404: http://host/RESULT SUCCESS.zip");
        writer.success();
    }
    std::rewind(file);
    QFile read;
    ASSERT_TRUE(read.open(file, QIODevice::ReadOnly));
    EXPECT_EQ(read.readAll(), QByteArray("PROGRESS 42 a_b 7\n"
                                         "RESULT ERROR two lines\n"
                                         "RESULT HTTP_ERROR 未知错误\n"
                                         "RESULT HTTP_ERROR 404: http://host/RESULT_SUCCESS.zip\n"
                                         "RESULT SUCCESS\n"));
    read.close();
    std::fclose(file);
}

}  // namespace
