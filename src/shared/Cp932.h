#pragma once

#include <QByteArray>
#include <QString>

namespace qrb {

// Windows Shift-JIS, the encoding of setting.ini and of the report files.
struct Cp932Bytes {
    QByteArray bytes;
    int replaced = 0; // characters CP932 cannot hold (𠮷, emoji), each written as "〓"
};

Cp932Bytes encodeCp932(const QString &text);
// Bytes that are no CP932 become U+FFFD.
QString decodeCp932(const QByteArray &bytes);

} // namespace qrb
