#include "s3_answer.h"

#include <QXmlStreamReader>

namespace S3Answer {

bool readError(const QByteArray& body, QString& code, QString& message) {
    QXmlStreamReader xml(body);
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("Error")) return false;
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("Code")) {
            code = xml.readElementText();
        } else if (xml.name() == QLatin1String("Message")) {
            message = xml.readElementText();
        } else {
            xml.skipCurrentElement();
        }
    }
    return true;
}

QString elementText(const QByteArray& body, const QString& name) {
    QXmlStreamReader xml(body);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == name) {
            return xml.readElementText();
        }
    }
    return QString();
}

}  // namespace S3Answer
