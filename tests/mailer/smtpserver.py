"""A mail server on loopback for the mailer's tests, built on aiosmtpd.

Listens on 127.0.0.1 on a free port and, once it listens, writes the port number into the
ready file. Every message it accepts is stored in the store folder as <n>.envelope (a line
"from <address>", then one line "to <address>" per recipient) and <n>.eml (the data as
received, after the SMTP transparency dots are taken off). Runs until it is killed.

Options:
  --starttls CERT KEY   offer STARTTLS with this certificate and require it before MAIL
  --smtps CERT KEY      speak TLS from the start (port 465 style)
  --auth USER PASS      require AUTH with these credentials before MAIL
  --refuse ADDRESS      answer RCPT TO for this address with 550 (repeatable)
"""

import argparse
import asyncio
import logging
import os
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


def write_atomically(path, data):
    temporary = path + ".tmp"
    with open(temporary, "wb") as f:
        f.write(data)
    os.replace(temporary, path)


class StoringHandler:
    def __init__(self, store, refused):
        self.store = store
        self.refused = {a.lower() for a in refused}
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.lower() in self.refused:
            return "550 5.1.1 <%s>: Recipient address rejected" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.store, str(self.count))
        lines = ["from " + envelope.mail_from] + ["to " + r for r in envelope.rcpt_tos]
        write_atomically(base + ".eml", envelope.original_content)
        write_atomically(base + ".envelope", ("\n".join(lines) + "\n").encode())
        return "250 2.0.0 Ok: queued"


def tls_context(cert, key):
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert, key)
    return context


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--store", required=True)
    parser.add_argument("--ready", required=True)
    parser.add_argument("--starttls", nargs=2, metavar=("CERT", "KEY"))
    parser.add_argument("--smtps", nargs=2, metavar=("CERT", "KEY"))
    parser.add_argument("--auth", nargs=2, metavar=("USER", "PASS"))
    parser.add_argument("--refuse", action="append", default=[])
    options = parser.parse_args()
    logging.basicConfig(level=logging.INFO, stream=sys.stderr)

    handler = StoringHandler(options.store, options.refuse)
    settings = {"hostname": "localhost", "decode_data": False}
    if options.starttls:
        settings["tls_context"] = tls_context(*options.starttls)
        settings["require_starttls"] = True
    if options.auth:
        user, password = (s.encode() for s in options.auth)

        def authenticator(server, session, envelope, mechanism, auth_data):
            ok = isinstance(auth_data, LoginPassword) and (
                auth_data.login == user and auth_data.password == password)
            # handled=False: aiosmtpd answers a refusal with 535 itself.
            return AuthResult(success=ok, handled=False)

        settings["authenticator"] = authenticator
        settings["auth_required"] = True
        # aiosmtpd only knows of TLS it started itself (STARTTLS), not of TLS from the start.
        settings["auth_require_tls"] = not options.smtps

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    server = loop.run_until_complete(loop.create_server(
        lambda: SMTP(handler, loop=loop, **settings), host="127.0.0.1", port=0,
        ssl=tls_context(*options.smtps) if options.smtps else None))
    port = server.sockets[0].getsockname()[1]
    write_atomically(options.ready, ("%d\n" % port).encode())
    loop.run_forever()


if __name__ == "__main__":
    main()
