#pragma once

#include "support/tempdir.h"

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace wfb::test {

// What a finished program left behind.
struct ProcessResult {
    int status = -1; // exit status; -1 when it did not end normally or was killed for time
    std::string out;
    std::string err;
};

// Runs a program (argv[0] is its path) without a shell, stdin from /dev/null, and waits at most
// the given time; a program that takes longer is killed.
ProcessResult runProcess(const std::vector<std::string>& argv, const TempDir& scratch,
                         std::chrono::seconds limit = std::chrono::seconds(120));

// A throwaway self-signed certificate for 127.0.0.1, made by openssl: cert.pem and key.pem in
// the folder.
struct Certificate {
    std::string cert;
    std::string key;
};
Certificate makeCertificate(const TempDir& dir, const std::string& name);

// One message as the test server stored it.
struct Received {
    std::string mailFrom;
    std::vector<std::string> rcptTo;
    std::string data; // the message as it arrived, transparency dots taken off
    std::string path; // of the stored message file
};

// The aiosmtpd server of tests/mailer/smtpserver.py, on loopback on a free port, for as long as
// the object lives. The options are those of the script (--starttls, --auth, --refuse, ...).
class SmtpServer {
public:
    SmtpServer(const TempDir& dir, std::vector<std::string> options = {});
    SmtpServer(const SmtpServer&) = delete;
    SmtpServer& operator=(const SmtpServer&) = delete;
    ~SmtpServer();

    int port() const { return port_; }
    std::vector<Received> received() const;
    // The server's log, for messages of failed tests.
    std::string log() const;

private:
    std::string store_;
    std::string logPath_;
    int pid_ = -1;
    int port_ = 0;
};

// A loopback TCP port that is bound but neither listens nor answers: connecting to it is refused
// (listen = false), or the connection is made and never greeted (listen = true).
class DeadPort {
public:
    explicit DeadPort(bool listen);
    DeadPort(const DeadPort&) = delete;
    DeadPort& operator=(const DeadPort&) = delete;
    ~DeadPort();
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

// A message read by Python's email package (tests/mailer/mailcheck.py): each finding by name
// ("subject", "from-name", "to-address", "defects", ...), and the decoded body as UTF-8 bytes.
struct ParsedMail {
    std::map<std::string, std::vector<std::string>> fields;
    std::string body;
    std::string report; // the checker's whole output, for messages

    // The one value of a finding; "" when there is none.
    std::string operator[](const std::string& name) const;
};
ParsedMail parseMail(const std::string& path, const TempDir& scratch);

// The .eml files in a folder (not below it), sorted; none when the folder does not exist.
std::vector<std::string> messageFiles(const std::string& directory);

} // namespace wfb::test
