#include "memotext.h"

#include "text/codepage.h"

namespace wfb {

QString toMemoText(std::string_view listText) {
    // One character per byte at most: filled in place, as templates may be large.
    QString text(static_cast<qsizetype>(listText.size()), Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(text.data());
    qsizetype length = 0;
    for (std::size_t i = 0; i < listText.size(); ++i) {
        const auto byte = static_cast<unsigned char>(listText[i]);
        if (byte == '\r') {
            if (i + 1 < listText.size() && listText[i + 1] == '\n') {
                ++i;
            }
            out[length++] = u'\n';
        } else {
            out[length++] = static_cast<char16_t>(cp1252::toUnicode(byte));
        }
    }
    text.truncate(length);
    return text;
}

std::string fromMemoText(const QString& rawText) {
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(rawText.size()) + 64);
    const QChar* characters = rawText.constData();
    for (qsizetype i = 0; i < rawText.size(); ++i) {
        const QChar c = characters[i];
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator || c == QLatin1Char('\n')) {
            bytes += "\r\n";
        } else if (c.isHighSurrogate() && i + 1 < rawText.size() &&
                   characters[i + 1].isLowSurrogate()) {
            ++i; // one character, one replacement
            bytes += cp1252::replacement;
        } else if (const auto b = cp1252::fromUnicode(c.unicode())) {
            bytes += static_cast<char>(*b);
        } else {
            bytes += cp1252::replacement;
        }
    }
    return bytes;
}

} // namespace wfb
