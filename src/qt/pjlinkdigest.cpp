#include "qt/pjlinkdigest.h"

#include <QByteArray>
#include <QCryptographicHash>

std::string pjlinkMd5Hex(std::string_view text)
{
    const QByteArray digest = QCryptographicHash::hash(
        QByteArrayView(text.data(), static_cast<qsizetype>(text.size())), QCryptographicHash::Md5);
    return digest.toHex().toStdString();
}
