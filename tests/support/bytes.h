#pragma once

#include <QByteArray>
#include <string_view>

// Text of the plain C++ layers as a QByteArray, for QCOMPARE to print when it differs.
inline QByteArray qb(std::string_view text)
{
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}
