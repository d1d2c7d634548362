#pragma once

#include "settings/inifile.h"

#include <string>
#include <string_view>
#include <vector>

namespace wfb::mailer {

// The section [SMTP] of the mailer's settings.
struct SmtpSettings {
    std::string server;   // Server: smtp://host:port or smtps://host:port; empty: no sending
    std::string user;     // User: log in when set
    std::string password; // Pass; never shown in any message
    bool startTls = true; // StartTLS: for smtp://, switch to TLS before anything else is said
    std::string caFile;   // CAFile: certificates to trust instead of the system's
    long timeout = 60;    // Timeout: seconds for connecting and for the whole transfer
};

// Reads and checks [SMTP]. A value that makes no sense throws a Failure naming the entry and the
// settings file.
SmtpSettings readSmtpSettings(const IniFile& settings);

// Sends the composed message over SMTP, from sender to every recipient. It returns only when the
// server took the message for every recipient; otherwise it throws a Failure with the reason
// (libcurl's own words in brackets). A recipient the server refuses stops the send before the
// message goes out: it goes to all recipients or to none. The password appears in no message.
void sendMessage(const SmtpSettings& smtp, const std::string& sender,
                 const std::vector<std::string>& recipients, std::string_view message);

} // namespace wfb::mailer
