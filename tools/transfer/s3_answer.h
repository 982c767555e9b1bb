#pragma once

#include <QByteArray>
#include <QString>

// Reads the XML documents an S3-compatible store answers with, apart from the
// upload that receives them, so that any answer can be fed to them.
namespace S3Answer {

// <Code> and <Message> of an <Error> document. False, both untouched, when
// `body` is no such document.
bool readError(const QByteArray& body, QString& code, QString& message);

// The text of the first element named `name` anywhere in `body` (the UploadId of
// an initiate answer); "" when there is none or the document breaks before it.
QString elementText(const QByteArray& body, const QString& name);

}  // namespace S3Answer
