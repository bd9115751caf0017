#include "mailhost/pst/messaging/Text.h"

#include <QStringDecoder>

#include <map>
#include <memory>

namespace parcelon::pst {

namespace {

Bytes withoutTrailingNuls(Bytes bytes, std::size_t unit)
{
    while (bytes.size() >= unit) {
        bool nul = true;
        for (std::size_t i = bytes.size() - unit; i < bytes.size(); ++i)
            nul = nul && bytes[i] == 0;
        if (!nul)
            break;
        bytes = bytes.first(bytes.size() - unit);
    }
    return bytes;
}

QByteArray codecName(int codePage)
{
    switch (codePage) {
    case 65001:
        return "UTF-8";
    case 20127:
        return "US-ASCII";
    case 1200:
        return "UTF-16LE";
    case 50220:
    case 50221:
    case 50222:
        return "ISO-2022-JP";
    case 51932:
        return "EUC-JP";
    case 20932:
        return "EUC-JP";
    case 936:
        return "windows-936";
    default:
        break;
    }
    if (codePage >= 28591 && codePage <= 28605)
        return "ISO-8859-" + QByteArray::number(codePage - 28590);
    return "windows-" + QByteArray::number(codePage);
}

// Decoders are costly to create: one per code page, kept for the process.
QStringDecoder* decoderFor(int codePage)
{
    thread_local std::map<int, std::unique_ptr<QStringDecoder>> decoders;
    auto& slot = decoders[codePage];
    if (!slot) {
        slot = std::make_unique<QStringDecoder>(codecName(codePage).constData(), QStringConverter::Flag::Stateless);
        if (!slot->isValid())
            slot = std::make_unique<QStringDecoder>(codecName(kDefaultCodePage).constData(), QStringConverter::Flag::Stateless);
    }
    return slot.get();
}

} // namespace

QString fromUtf16le(Bytes bytes)
{
    bytes = withoutTrailingNuls(bytes.first(bytes.size() & ~std::size_t(1)), 2);
    QString text(static_cast<qsizetype>(bytes.size() / 2), Qt::Uninitialized);
    const SpanReader r(bytes);
    for (qsizetype i = 0; i < text.size(); ++i)
        text[i] = QChar(r.u16(static_cast<std::size_t>(i) * 2));
    return text;
}

QString fromCodePage(Bytes bytes, int codePage)
{
    bytes = withoutTrailingNuls(bytes, 1);
    QStringDecoder* decoder = decoderFor(codePage);
    return decoder->decode(QByteArrayView(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())));
}

int codePageOfLocale(int lcid)
{
    switch (lcid & 0x3FF) { // the primary language
    case 0x11:
        return 932; // Japanese
    case 0x12:
        return 949; // Korean
    case 0x04:
        return (lcid == 0x0404 || lcid == 0x0C04 || lcid == 0x1404) ? 950 : 936; // Chinese
    case 0x19:                                                                   // Russian
    case 0x22:                                                                   // Ukrainian
    case 0x23:                                                                   // Belarusian
    case 0x02:                                                                   // Bulgarian
    case 0x2F:                                                                   // Macedonian
        return 1251;
    case 0x05: // Czech
    case 0x15: // Polish
    case 0x0E: // Hungarian
    case 0x1B: // Slovak
    case 0x24: // Slovenian
    case 0x18: // Romanian
    case 0x1C: // Albanian
        return 1250;
    case 0x1A:
        return lcid == 0x0C1A ? 1251 : 1250; // Serbian Cyrillic, else Croatian/Serbian Latin
    case 0x08:
        return 1253; // Greek
    case 0x1F:
        return 1254; // Turkish
    case 0x0D:
        return 1255; // Hebrew
    case 0x01:
        return 1256; // Arabic
    case 0x29:
        return 1256; // Persian
    case 0x25:       // Estonian
    case 0x26:       // Latvian
    case 0x27:
        return 1257; // Lithuanian
    case 0x2A:
        return 1258; // Vietnamese
    case 0x1E:
        return 874; // Thai
    case 0x00:
        return 0;
    default:
        return 1252;
    }
}

} // namespace parcelon::pst
