#include "smtp.h"

#include "system/failure.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace wfb::mailer {
namespace {

std::string lowerAscii(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    return lower;
}

std::string entry(const IniFile& settings, std::string_view key) {
    return "Der Eintrag „" + std::string(key) + "“ im Abschnitt [SMTP] von " +
           quoted(settings.path());
}

void checkServer(const IniFile& settings, const std::string& server) {
    const std::string lower = lowerAscii(server);
    const auto scheme = lower.starts_with("smtp://")    ? std::size_t{7}
                        : lower.starts_with("smtps://") ? std::size_t{8}
                                                        : std::size_t{0};
    if (scheme == 0) {
        throw Failure(entry(settings, "Server") + " ist keine SMTP-Adresse (" + quoted(server) +
                      "): Erwartet wird smtp://Rechner:Port oder smtps://Rechner:Port");
    }
    const auto authority = std::string_view(server).substr(scheme).substr(
        0, std::string_view(server).substr(scheme).find_first_of("/?#"));
    // The value is not shown: it may hold the password.
    if (authority.find('@') != std::string_view::npos) {
        throw Failure(entry(settings, "Server") +
                      " enthält einen Benutzernamen (vor einem @): Benutzer und Kennwort gehören "
                      "in die Einträge „User“ und „Pass“");
    }
    if (authority.empty()) {
        throw Failure(entry(settings, "Server") + " nennt keinen Rechner (" + quoted(server) +
                      "): Erwartet wird smtp://Rechner:Port oder smtps://Rechner:Port");
    }
}

bool readYesNo(const IniFile& settings, std::string_view key, bool defaultValue) {
    const std::string value = settings.read("SMTP", key);
    const std::string lower = lowerAscii(value);
    if (lower.empty()) {
        return defaultValue;
    }
    for (const char* yes : {"yes", "ja", "true", "on", "1"}) {
        if (lower == yes) {
            return true;
        }
    }
    for (const char* no : {"no", "nein", "false", "off", "0"}) {
        if (lower == no) {
            return false;
        }
    }
    throw Failure(entry(settings, key) + " ist weder „yes“ noch „no“ (" + quoted(value) + ")");
}

long readSeconds(const IniFile& settings, std::string_view key, long defaultValue) {
    constexpr long most = 86400;
    const std::string value = settings.read("SMTP", key);
    if (value.empty()) {
        return defaultValue;
    }
    // At most five digits: no overflow on the way.
    bool valid = value.size() <= 5;
    long seconds = 0;
    for (std::size_t i = 0; valid && i < value.size(); ++i) {
        valid = value[i] >= '0' && value[i] <= '9';
        seconds = seconds * 10 + (value[i] - '0');
    }
    if (!valid || seconds < 1 || seconds > most) {
        throw Failure(entry(settings, key) + " ist keine Anzahl Sekunden von 1 bis " +
                      std::to_string(most) + " (" + quoted(value) + ")");
    }
    return seconds;
}

// libcurl's state for the whole process, set up before the first handle.
class CurlGlobal {
public:
    CurlGlobal() : result_(curl_global_init(CURL_GLOBAL_DEFAULT)) {}
    CurlGlobal(const CurlGlobal&) = delete;
    CurlGlobal& operator=(const CurlGlobal&) = delete;
    ~CurlGlobal() {
        if (result_ == CURLE_OK) {
            curl_global_cleanup();
        }
    }
    CURLcode result() const { return result_; }

private:
    CURLcode result_;
};

struct EasyCleanup {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;

// A list of strings for libcurl.
class StringList {
public:
    StringList() = default;
    StringList(const StringList&) = delete;
    StringList& operator=(const StringList&) = delete;
    ~StringList() { curl_slist_free_all(head_); }

    void append(const std::string& text) {
        curl_slist* const head = curl_slist_append(head_, text.c_str());
        if (head == nullptr) {
            throw Failure("Nicht genug Speicher für die Empfängerliste");
        }
        head_ = head;
    }
    curl_slist* get() const { return head_; }

private:
    curl_slist* head_ = nullptr;
};

// The composed message as libcurl reads it.
struct Upload {
    std::string_view rest;
};

std::size_t readUpload(char* buffer, std::size_t size, std::size_t count, void* data) {
    auto& upload = *static_cast<Upload*>(data);
    const std::size_t n = std::min(size * count, upload.rest.size());
    std::memcpy(buffer, upload.rest.data(), n);
    upload.rest.remove_prefix(n);
    return n;
}

template <typename Value>
void setOption(CURL* handle, CURLoption option, Value value, const char* name) {
    const CURLcode result = curl_easy_setopt(handle, option, value);
    if (result != CURLE_OK) {
        throw Failure(std::string("libcurl nimmt die Einstellung ") + name +
                      " nicht an: " + curl_easy_strerror(result));
    }
}

std::string reasonOf(CURLcode result, std::string_view detail, const SmtpSettings& smtp) {
    switch (result) {
    case CURLE_UNSUPPORTED_PROTOCOL:
        return "Diese libcurl kann das Protokoll der Server-Adresse nicht";
    case CURLE_URL_MALFORMAT:
        return "Die Server-Adresse (Eintrag Server) ist ungültig";
    case CURLE_COULDNT_RESOLVE_HOST:
        return "Der Name des Servers lässt sich nicht auflösen";
    case CURLE_COULDNT_CONNECT:
        return "Der Server nimmt keine Verbindung an";
    case CURLE_OPERATION_TIMEDOUT:
        return "Der Server hat nicht binnen " + std::to_string(smtp.timeout) +
               " Sekunden geantwortet (Eintrag Timeout)";
    case CURLE_USE_SSL_FAILED:
        return "Der Server bietet keine Verschlüsselung (STARTTLS) an, und unverschlüsselt wird "
               "nicht gesendet";
    case CURLE_PEER_FAILED_VERIFICATION:
        return "Das Zertifikat des Servers ist nicht vertrauenswürdig oder nicht auf seinen Namen "
               "ausgestellt (eine eigene Zertifizierungsstelle gehört in den Eintrag CAFile)";
    case CURLE_SSL_CONNECT_ERROR:
        return "Die verschlüsselte Verbindung zum Server kam nicht zustande";
    case CURLE_SSL_CACERT_BADFILE:
        return "Die Zertifikatsdatei (Eintrag CAFile) lässt sich nicht verwenden";
    case CURLE_LOGIN_DENIED:
    case CURLE_AUTH_ERROR:
        return "Der Server hat die Anmeldung abgelehnt (Einträge User und Pass)";
    case CURLE_SEND_ERROR:
        if (detail.starts_with("RCPT failed")) {
            return "Der Server hat einen Empfänger abgelehnt; die Nachricht ging an niemanden";
        }
        if (detail.starts_with("MAIL failed: 530")) {
            return "Der Server verlangt eine Anmeldung (Einträge User und Pass)";
        }
        if (detail.starts_with("MAIL failed")) {
            return "Der Server hat den Absender abgelehnt";
        }
        return "Die Verbindung zum Server ist beim Senden abgebrochen";
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
        return "Die Verbindung zum Server ist abgebrochen";
    case CURLE_WEIRD_SERVER_REPLY:
        return "Der Server hat die Nachricht nicht angenommen oder unerwartet geantwortet";
    case CURLE_OUT_OF_MEMORY:
        return "Nicht genug Speicher";
    default:
        return "Das Senden ist gescheitert";
    }
}

// The text with every occurrence of the password blotted out.
std::string withoutPassword(std::string text, const std::string& password) {
    if (password.empty()) {
        return text;
    }
    for (auto at = text.find(password); at != std::string::npos; at = text.find(password, at + 3)) {
        text.replace(at, password.size(), "***");
    }
    return text;
}

} // namespace

SmtpSettings readSmtpSettings(const IniFile& settings) {
    SmtpSettings smtp;
    smtp.server = settings.read("SMTP", "Server");
    if (!smtp.server.empty()) {
        checkServer(settings, smtp.server);
    }
    smtp.user = settings.read("SMTP", "User");
    smtp.password = settings.read("SMTP", "Pass");
    smtp.startTls = readYesNo(settings, "StartTLS", true);
    smtp.caFile = settings.read("SMTP", "CAFile");
    smtp.timeout = readSeconds(settings, "Timeout", 60);
    return smtp;
}

void sendMessage(const SmtpSettings& smtp, const std::string& sender,
                 const std::vector<std::string>& recipients, std::string_view message) {
    std::string to;
    for (const auto& recipient : recipients) {
        to += (to.empty() ? "" : ", ") + recipient;
    }
    const std::string what = "Die Nachricht an " + quoted(to) + " ist nicht gesendet worden (" +
                             quoted(smtp.server) + "): ";

    static const CurlGlobal global;
    if (global.result() != CURLE_OK) {
        throw Failure(
            what + "libcurl lässt sich nicht einrichten: " + curl_easy_strerror(global.result()));
    }
    if (!smtp.caFile.empty() && ::access(smtp.caFile.c_str(), R_OK) != 0) {
        throw Failure(what + "Die Zertifikatsdatei " + quoted(smtp.caFile) +
                      " (Eintrag CAFile) kann nicht gelesen werden: " + systemReason(errno));
    }

    // Declared before the handle, which may still write into them while it is cleaned up.
    char errorBuffer[CURL_ERROR_SIZE] = "";
    StringList envelopeRecipients;
    for (const auto& recipient : recipients) {
        envelopeRecipients.append("<" + recipient + ">");
    }
    Upload upload{message};

    const EasyHandle handle(curl_easy_init());
    if (!handle) {
        throw Failure(what + "libcurl kann keine Verbindung vorbereiten");
    }
    CURL* const h = handle.get();
    const std::string envelopeSender = "<" + sender + ">";
    setOption(h, CURLOPT_ERRORBUFFER, errorBuffer, "ERRORBUFFER");
    setOption(h, CURLOPT_NOSIGNAL, 1L, "NOSIGNAL");
    setOption(h, CURLOPT_PROTOCOLS_STR, "smtp,smtps", "PROTOCOLS_STR");
    setOption(h, CURLOPT_URL, smtp.server.c_str(), "URL");
    // For smtp:// STARTTLS must succeed before anything else is said; smtps:// is TLS from the
    // start. Certificates are always checked.
    const bool tls = smtp.startTls || lowerAscii(smtp.server).starts_with("smtps://");
    setOption(h, CURLOPT_USE_SSL, static_cast<long>(tls ? CURLUSESSL_ALL : CURLUSESSL_NONE),
              "USE_SSL");
    setOption(h, CURLOPT_SSL_VERIFYPEER, 1L, "SSL_VERIFYPEER");
    setOption(h, CURLOPT_SSL_VERIFYHOST, 2L, "SSL_VERIFYHOST");
    if (!smtp.caFile.empty()) {
        setOption(h, CURLOPT_CAINFO, smtp.caFile.c_str(), "CAINFO");
    }
    if (!smtp.user.empty()) {
        setOption(h, CURLOPT_USERNAME, smtp.user.c_str(), "USERNAME");
        setOption(h, CURLOPT_PASSWORD, smtp.password.c_str(), "PASSWORD");
    }
    setOption(h, CURLOPT_CONNECTTIMEOUT, smtp.timeout, "CONNECTTIMEOUT");
    setOption(h, CURLOPT_TIMEOUT, smtp.timeout, "TIMEOUT");
    setOption(h, CURLOPT_MAIL_FROM, envelopeSender.c_str(), "MAIL_FROM");
    // Without CURLOPT_MAIL_RCPT_ALLOWFAILS a refused recipient ends the send before DATA.
    setOption(h, CURLOPT_MAIL_RCPT, envelopeRecipients.get(), "MAIL_RCPT");
    setOption(h, CURLOPT_UPLOAD, 1L, "UPLOAD");
    setOption(h, CURLOPT_READFUNCTION, readUpload, "READFUNCTION");
    setOption(h, CURLOPT_READDATA, &upload, "READDATA");

    const CURLcode result = curl_easy_perform(h);
    if (result != CURLE_OK) {
        // libcurl's words come partly from the server: the password must not come back in them.
        const std::string detail = withoutPassword(
            errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(result), smtp.password);
        throw Failure(what + reasonOf(result, detail, smtp) + " (libcurl: " + detail + ")");
    }
}

} // namespace wfb::mailer
