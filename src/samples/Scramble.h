#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

namespace parcelon {

// The key of the sample snapshot. A snapshot stored under one key reads
// back only with the same key: never change it.
inline constexpr QStringView kScrambleKey = u"qnhwzdre";

// The keyed shift on bytes. Each byte c, with the key's next byte k (the
// key starts again after its last byte), becomes c + k, less 255 when above
// 255; unscrambling takes c - k, plus 255 when below 1. So every byte from
// 1 to 255 comes back. Both yield to the window system once per byte. The
// key must not be empty.
QByteArray scrambleBytes(QByteArrayView bytes, QByteArrayView key);
QByteArray unscrambleBytes(QByteArrayView bytes, QByteArrayView key);

// The UTF-8 bytes of `text` scrambled, held as the characters U+0001 to
// U+00FF of the same numbers, one per byte. `key` is ASCII.
QString ScrambleText(const QString& text, QStringView key);

// The text back from what ScrambleText gave; nothing for a damaged value:
// one holding a character above U+00FF, or bytes that are no UTF-8 text.
std::optional<QString> UnscrambleText(const QString& scrambled, QStringView key);

} // namespace parcelon
