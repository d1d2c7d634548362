// The mailer's command line and message composition over arbitrary values. The input is split
// at NUL bytes: the first six pieces are the arguments, the rest are the subject, the sender's
// name and address, the recipients and the body of a message. Whatever is composed must be a
// message no header can be smuggled into, with a body that decodes to the text given.

#include "fuzz_check.h"
#include "mailer/arguments.h"
#include "mailer/mailer.h"
#include "mailer/message.h"
#include "system/failure.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::vector<std::string> pieces(std::string_view input) {
    std::vector<std::string> result;
    for (std::size_t start = 0; start <= input.size();) {
        const auto end = std::min(input.find('\0', start), input.size());
        result.emplace_back(input.substr(start, end - start));
        start = end + 1;
    }
    return result;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Quoted-printable back to bytes; lines joined with CR LF, soft breaks dropped.
std::string decodeQuotedPrintable(std::string_view body) {
    std::string out;
    for (std::size_t i = 0; i < body.size(); ++i) {
        if (body[i] != '=') {
            out += body[i];
            continue;
        }
        if (body.substr(i + 1, 2) == "\r\n") {
            i += 2;
            continue;
        }
        FUZZ_CHECK(i + 2 < body.size());
        const int high = hexValue(body[i + 1]);
        const int low = hexValue(body[i + 2]);
        FUZZ_CHECK(high >= 0 && low >= 0);
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

std::string withCrLf(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
            out += "\r\n";
        } else {
            out += text[i];
        }
    }
    return out;
}

void checkMessage(const std::string& composed, const wfb::mailer::MailMessage& message) {
    const auto split = composed.find("\r\n\r\n");
    FUZZ_CHECK(split != std::string::npos);
    const std::string_view head = std::string_view(composed).substr(0, split + 2);
    const std::string_view body = std::string_view(composed).substr(split + 4);
    // Every line ends in CR LF; header lines start with a name or continue a folded one.
    for (std::size_t start = 0; start < composed.size();) {
        const auto end = composed.find("\r\n", start);
        FUZZ_CHECK(end != std::string::npos);
        const std::string_view line = std::string_view(composed).substr(start, end - start);
        FUZZ_CHECK(line.find('\r') == std::string_view::npos);
        FUZZ_CHECK(line.find('\n') == std::string_view::npos);
        FUZZ_CHECK(line.find('\0') == std::string_view::npos);
        if (start < head.size()) {
            FUZZ_CHECK(line.size() <= 998);
        } else {
            if (line.size() > 76) {
                std::fprintf(stderr, "body line of %zu characters: %.*s\n", line.size(),
                             static_cast<int>(line.size()), line.data());
            }
            FUZZ_CHECK(line.size() <= 76);
            FUZZ_CHECK(!line.starts_with('.'));
        }
        start = end + 2;
    }
    std::size_t headers = 0;
    for (std::size_t start = 0; start < head.size(); start = head.find("\r\n", start) + 2) {
        if (head[start] != ' ' && head[start] != '\t') {
            ++headers;
        }
    }
    FUZZ_CHECK(headers == 8);
    std::string expected = withCrLf(message.body);
    std::string decoded = decodeQuotedPrintable(body);
    FUZZ_CHECK(decoded == expected || decoded == expected + "\r\n");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto parts = pieces(std::string_view(reinterpret_cast<const char*>(data), size));
    parts.resize(std::max<std::size_t>(parts.size(), 11));

    const std::vector<std::string> arguments(parts.begin(), parts.begin() + 6);
    try {
        const auto parsed = wfb::mailer::parseArguments(arguments);
        FUZZ_CHECK(!parsed.bodyFile.empty());
        FUZZ_CHECK(!parsed.recipients.empty());
    } catch (const wfb::Failure&) {
    }

    wfb::mailer::MailerArguments given;
    given.subject = parts[6];
    given.senderName = parts[7];
    given.senderAddress = parts[8];
    given.recipients = wfb::mailer::splitRecipients(parts[9]);
    std::string body;
    for (std::size_t i = 10; i < parts.size(); ++i) {
        body += (i > 10 ? "\n" : "") + parts[i];
    }
    const auto message = wfb::mailer::messageFrom(given, body);
    try {
        checkMessage(wfb::mailer::composeMessage(message, 1781161800, "fuzz@example.com"), message);
    } catch (const wfb::Failure&) {
    }
    return 0;
}
