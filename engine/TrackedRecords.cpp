// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/TrackedRecords.h"

namespace rp {

namespace {
bool IsContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}
} // namespace

QByteArray KeyBytes(const QString& text) {
    QByteArray bytes = text.toUtf8();
    if (bytes.size() <= kMaxKeyBytes)
        return bytes;
    int cut = kMaxKeyBytes;
    // Step back over a character the limit would split.
    while (cut > 0 && IsContinuationByte(bytes[cut]))
        --cut;
    bytes.truncate(cut);
    return bytes;
}

QString CutKey(const QString& text) {
    return QString::fromUtf8(KeyBytes(text));
}

} // namespace rp
