#include "message.h"

#include "system/failure.h"

#include <array>

namespace wfb::mailer {
namespace {

constexpr std::size_t maxLine = 78;        // recommended longest header line, without CR LF
constexpr std::size_t maxBodyLine = 76;    // longest quoted-printable line, without CR LF
constexpr std::size_t maxWordBytes = 39;   // UTF-8 bytes per encoded word: 64 characters each
constexpr std::string_view fold = "\r\n "; // a header line continues after CR LF and a blank

bool isPrintableAscii(std::string_view text) {
    for (const char c : text) {
        if (c < 0x20 || c > 0x7E) {
            return false;
        }
    }
    return true;
}

// The characters of an atom (RFC 5322 atext).
bool isAtext(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    return std::string_view("!#$%&'*+-/=?^_`{|}~").find(c) != std::string_view::npos;
}

std::string base64(std::string_view bytes) {
    static constexpr char digits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                           static_cast<unsigned char>(bytes[i + 1]) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += digits[v >> 18];
        out += digits[(v >> 12) & 63];
        out += digits[(v >> 6) & 63];
        out += digits[v & 63];
    }
    if (i + 1 == bytes.size()) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        out += digits[v >> 18];
        out += digits[(v >> 12) & 63];
        out += "==";
    } else if (i + 2 == bytes.size()) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                           static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += digits[v >> 18];
        out += digits[(v >> 12) & 63];
        out += digits[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

// The text as RFC 2047 encoded words, each holding whole UTF-8 characters, one word per line.
std::vector<std::string> encodedWords(std::string_view utf8) {
    std::vector<std::string> words;
    while (!utf8.empty()) {
        std::size_t length = std::min(utf8.size(), maxWordBytes);
        // Never end a word inside a character: back up to the start of the one that is cut.
        while (length < utf8.size() && length > 0 &&
               (static_cast<unsigned char>(utf8[length]) & 0xC0) == 0x80) {
            --length;
        }
        if (length == 0) { // not UTF-8 at all; the bytes still go out whole
            length = std::min(utf8.size(), maxWordBytes);
        }
        words.push_back("=?UTF-8?B?" + base64(utf8.substr(0, length)) + "?=");
        utf8.remove_prefix(length);
    }
    return words;
}

std::string joinFolded(const std::vector<std::string>& words) {
    std::string out;
    for (const auto& word : words) {
        if (!out.empty()) {
            out += fold;
        }
        out += word;
    }
    return out;
}

std::string hexByte(unsigned char byte) {
    static constexpr char digits[] = "0123456789ABCDEF";
    return {'=', digits[byte >> 4], digits[byte & 15]};
}

// Appends one line of the body, without its line break, as quoted-printable.
// softBreakAfter: the text ends with this line and a soft line break, whose "=" needs room too.
void encodeLine(std::string& out, std::string_view line, bool softBreakAfter) {
    std::size_t column = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        const bool last = i + 1 == line.size();
        const bool literal =
            (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last);
        std::string token = literal ? std::string(1, static_cast<char>(c)) : hexByte(c);
        // Room for the "=" of a soft line break unless this ends the line.
        if (column + token.size() > (last && !softBreakAfter ? maxBodyLine : maxBodyLine - 1)) {
            out += "=\r\n";
            column = 0;
        }
        // A full stop at the start of a line means something to SMTP, "From " to mbox files.
        if (column == 0 && (c == '.' || (c == 'F' && line.substr(i).starts_with("From ")))) {
            token = hexByte(c);
        }
        out += token;
        column += token.size();
    }
}

} // namespace

std::string shownValue(std::string_view value) {
    std::string text;
    for (const char c : value) {
        if (c == '\r') {
            text += "\\r";
        } else if (c == '\n') {
            text += "\\n";
        } else if (c == '\0') {
            text += "\\0";
        } else {
            text += c;
        }
    }
    return quoted(text);
}

void checkHeaderValue(std::string_view what, std::string_view value) {
    if (value.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
        throw Failure(std::string(what) + " " + shownValue(value) +
                      " enthält einen Zeilenumbruch (CR oder LF) oder ein Nullzeichen. So ein "
                      "Wert könnte der Nachricht weitere Kopfzeilen unterschieben; es wird "
                      "nichts gesendet");
    }
}

void checkAddress(std::string_view what, std::string_view address) {
    checkHeaderValue(what, address);
    const auto fail = [&](std::string_view why) {
        throw Failure(std::string(what) + " " + shownValue(address) +
                      " ist keine gültige Mailadresse: " + std::string(why));
    };
    if (address.empty()) {
        fail("Die Adresse ist leer");
    }
    if (address.size() > 254) {
        fail("Sie ist länger als 254 Zeichen");
    }
    const auto at = address.rfind('@');
    if (at == std::string_view::npos || at == 0 || at + 1 == address.size()) {
        fail("Erwartet wird name@domain");
    }
    const auto local = address.substr(0, at);
    const auto domain = address.substr(at + 1);
    if (local.size() > 64) {
        fail("Der Teil vor dem @ ist länger als 64 Zeichen");
    }
    for (const char c : local) {
        if (!isAtext(c) && c != '.') {
            fail("Vor dem @ stehen nur Buchstaben ohne Umlaute, Ziffern und !#$%&'*+-/=?^_`{|}~. "
                 "(keine Leerzeichen, Klammern, Anführungszeichen oder zweites @)");
        }
    }
    if (local.front() == '.' || local.back() == '.' || local.find("..") != std::string_view::npos) {
        fail("Vor dem @ darf kein Punkt am Anfang, am Ende oder doppelt stehen");
    }
    std::size_t labelStart = 0;
    for (std::size_t i = 0; i <= domain.size(); ++i) {
        if (i == domain.size() || domain[i] == '.') {
            const auto label = domain.substr(labelStart, i - labelStart);
            if (label.empty() || label.front() == '-' || label.back() == '-') {
                fail("Der Domainname nach dem @ ist ungültig");
            }
            labelStart = i + 1;
            continue;
        }
        const char c = domain[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-')) {
            fail("Nach dem @ stehen nur Buchstaben ohne Umlaute, Ziffern, Bindestriche und "
                 "Punkte");
        }
    }
}

std::string messageIdFor(std::string_view unique, std::string_view senderAddress) {
    const auto at = senderAddress.rfind('@');
    const auto domain =
        at == std::string_view::npos ? std::string_view("localhost") : senderAddress.substr(at + 1);
    return "<" + std::string(unique) + "@" + std::string(domain) + ">";
}

std::string formatDate(std::time_t date) {
    static constexpr std::array<const char*, 7> days = {"Sun", "Mon", "Tue", "Wed",
                                                        "Thu", "Fri", "Sat"};
    static constexpr std::array<const char*, 12> months = {
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm local{};
    if (::localtime_r(&date, &local) == nullptr) {
        throw Failure("Die Uhrzeit " + std::to_string(date) +
                      " lässt sich nicht in Ortszeit umrechnen");
    }
    char clock[32];
    std::strftime(clock, sizeof clock, "%H:%M:%S %z", &local);
    return std::string(days[local.tm_wday]) + ", " + std::to_string(local.tm_mday) + " " +
           months[local.tm_mon] + " " + std::to_string(local.tm_year + 1900) + " " + clock;
}

std::string quotedPrintable(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto end = text.find_first_of("\r\n", pos);
        encodeLine(out, text.substr(pos, end - pos), end == std::string_view::npos);
        if (end == std::string_view::npos) {
            out += "=\r\n"; // no line break at the end: none is added
            break;
        }
        out += "\r\n";
        pos = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
    }
    return out;
}

std::string headerText(std::string_view utf8, std::size_t nameLength) {
    const bool plain = isPrintableAscii(utf8) && utf8.find("=?") == std::string_view::npos &&
                       !utf8.starts_with(' ') && !utf8.ends_with(' ') &&
                       nameLength + 2 + utf8.size() <= maxLine;
    return plain ? std::string(utf8) : joinFolded(encodedWords(utf8));
}

std::string mailbox(std::string_view name, std::string_view address) {
    const std::string angle = "<" + std::string(address) + ">";
    if (name.empty()) {
        return std::string(address);
    }
    constexpr std::size_t start = 6; // "From: "
    if (isPrintableAscii(name) && name.find("=?") == std::string_view::npos) {
        // Plain words need no quotes; anything else in ASCII goes in a quoted string.
        bool atoms = !name.starts_with(' ') && !name.ends_with(' ') &&
                     name.find("  ") == std::string_view::npos;
        for (const char c : name) {
            atoms = atoms && (c == ' ' || isAtext(c));
        }
        std::string phrase;
        if (atoms) {
            phrase = name;
        } else {
            phrase = "\"";
            for (const char c : name) {
                if (c == '"' || c == '\\') {
                    phrase += '\\';
                }
                phrase += c;
            }
            phrase += '"';
        }
        if (start + phrase.size() + 1 + angle.size() <= maxLine) {
            return phrase + " " + angle;
        }
    }
    const auto words = encodedWords(name);
    std::string out = joinFolded(words);
    const std::size_t lastLine = (words.size() == 1 ? start : 1) + words.back().size();
    out += lastLine + 1 + angle.size() <= maxLine ? std::string(" ") : std::string(fold);
    return out + angle;
}

std::string composeMessage(const MailMessage& message, std::time_t date,
                           std::string_view messageId) {
    checkHeaderValue("Der Betreff", message.subject);
    checkHeaderValue("Der Absendername", message.senderName);
    checkAddress("Der Absender", message.senderAddress);
    if (message.recipients.empty()) {
        throw Failure("Die Nachricht hat keinen Empfänger");
    }
    for (const auto& recipient : message.recipients) {
        checkAddress("Der Empfänger", recipient);
    }
    checkHeaderValue("Die Message-ID", messageId);

    std::string to = "To: ";
    std::size_t column = to.size();
    for (std::size_t i = 0; i < message.recipients.size(); ++i) {
        const auto& recipient = message.recipients[i];
        if (i > 0) {
            to += ',';
            ++column;
            if (column + 1 + recipient.size() > maxLine) {
                to += "\r\n";
                column = 0;
            }
            to += ' ';
            ++column;
        }
        to += recipient;
        column += recipient.size();
    }

    std::string out;
    out += "From: " + mailbox(message.senderName, message.senderAddress) + "\r\n";
    out += to + "\r\n";
    out += "Subject: " + headerText(message.subject, 7) + "\r\n";
    out += "Date: " + formatDate(date) + "\r\n";
    out += "Message-ID: " + std::string(messageId) + "\r\n";
    out += "MIME-Version: 1.0\r\n";
    out += "Content-Type: text/plain; charset=UTF-8\r\n";
    out += "Content-Transfer-Encoding: quoted-printable\r\n";
    out += "\r\n";
    out += quotedPrintable(message.body);
    return out;
}

} // namespace wfb::mailer
