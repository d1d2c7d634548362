#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace wfb::mailer {

// One mail, all text in UTF-8.
struct MailMessage {
    std::string senderAddress;
    std::string senderName; // the display name of From; empty: the bare address
    std::vector<std::string> recipients;
    std::string subject;
    std::string body; // any line ends; they go out as CR LF
};

// The message in Internet format (RFC 5322 with MIME): From, To, Subject, Date, Message-ID,
// MIME-Version, Content-Type and Content-Transfer-Encoding, then the body as quoted-printable
// UTF-8, every line ending in CR LF. The message is not dot-stuffed: the SMTP client does that.
// A header value holding CR, LF or NUL, or an address that is none, throws a Failure and nothing
// is composed.
std::string composeMessage(const MailMessage& message, std::time_t date,
                           std::string_view messageId);

// The Message-ID for a unique left part and the sender's domain: "<unique@domain>".
std::string messageIdFor(std::string_view unique, std::string_view senderAddress);

// Refuses a header value holding CR, LF or NUL; what names the value in the message.
void checkHeaderValue(std::string_view what, std::string_view value);

// Refuses what is no plain mail address local@domain in ASCII (no display name, no angle
// brackets, no blanks); what names the address in the message ("Der Empfänger").
void checkAddress(std::string_view what, std::string_view address);

// The date as a Date header wants it, in local time with its offset:
// "Mon, 5 Feb 2024 07:30:00 +0100". Day and month names do not depend on the locale.
std::string formatDate(std::time_t date);

// The body as quoted-printable: every line break (CR LF, CR, LF) becomes CR LF, no line is
// longer than 76 characters, blanks and tabs at the end of a line are encoded, and so is a full
// stop or the "F" of "From " at the start of a line, so that no transport can change them. A body
// that does not end with a line break ends with a soft line break.
std::string quotedPrintable(std::string_view utf8);

// The value of an unstructured header (Subject) after a name of nameLength characters and ": ":
// plain when it is printable ASCII that fits on the line, otherwise RFC 2047 encoded words
// (UTF-8, base64), folded so that no line is longer than 78 characters.
std::string headerText(std::string_view utf8, std::size_t nameLength);

// A header value as it appears in a message: in German quotes, with CR, LF and NUL written as
// \r, \n and \0, so that the message stays on one line.
std::string shownValue(std::string_view value);

// "name <address>" for From: the name as it is when it is made of plain words, in double quotes
// when it holds other ASCII characters, and as encoded words otherwise; the bare address
// without a name.
std::string mailbox(std::string_view name, std::string_view address);

} // namespace wfb::mailer
