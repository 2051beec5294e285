#!/usr/bin/python3
"""A small SMTP server for the tests' mail accounts (aiosmtpd).

Two listeners on loopback: plain SMTP, where STARTTLS is required before
anything but EHLO/HELO/NOOP/QUIT (so AUTH only ever goes over TLS), and
SMTPS (TLS from the first byte). Both require AUTH PLAIN or LOGIN with a
user and password of the users file ("name:password" lines; the login may be
"name" or "name@DOMAIN") before MAIL. A recipient must be NAME@DOMAIN of a
known user, anything else gets 550. Each accepted message is written once
per recipient into DIR/<name>/Maildir: to tmp/, flushed, renamed into new/.
Run as root with --uid/--gid it binds its ports, reads the certificate and
the users, then drops to that uid/gid, so the files it writes belong to the
mail user that the IMAP server reads them as.

Usage: smtp_server.py --smtp-port P --smtps-port P --cert F --key F
         --users FILE --mail-root DIR --domain D [--uid N --gid N]
"""
import argparse
import asyncio
import logging
import os
import signal
import socket
import ssl
import sys
import time

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

log = logging.getLogger("smtp_server")
_counter = 0


def read_users(path):
    users = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            name, _, password = line.partition(":")
            users[name.lower()] = password
    return users


def local_name(address, domain):
    """The user name of NAME@DOMAIN, lower case; None for any other address."""
    name, at, dom = address.rpartition("@")
    if not at or dom.lower() != domain.lower() or not name:
        return None
    return name.lower()


def unique_name():
    global _counter
    _counter += 1
    now = time.time()
    return "%d.M%dP%dQ%d.%s" % (int(now), int((now % 1) * 1e6), os.getpid(), _counter,
                                socket.gethostname().replace("/", "_").replace(":", "_"))


def deliver(maildir, data):
    for sub in ("tmp", "new", "cur"):
        os.makedirs(os.path.join(maildir, sub), mode=0o700, exist_ok=True)
    name = unique_name()
    tmp = os.path.join(maildir, "tmp", name)
    fd = os.open(tmp, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    try:
        view = memoryview(data)
        while view:
            view = view[os.write(fd, view):]
        os.fsync(fd)
    finally:
        os.close(fd)
    os.rename(tmp, os.path.join(maildir, "new", name))


class Handler:
    def __init__(self, users, mail_root, domain):
        self.users, self.mail_root, self.domain = users, mail_root, domain

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        name = local_name(address, self.domain)
        if name is None or name not in self.users:
            log.info("refused recipient %s", address)
            return "550 5.1.1 <%s>: recipient address rejected: user unknown" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        # Stored the way a local delivery agent stores it: LF line ends and a
        # Return-Path header naming the envelope sender.
        body = envelope.original_content.replace(b"\r\n", b"\n")
        data = b"Return-Path: <" + envelope.mail_from.encode("utf-8", "replace") + b">\n" + body
        done = set()
        try:
            for rcpt in envelope.rcpt_tos:
                name = local_name(rcpt, self.domain)
                if name in done:
                    continue
                deliver(os.path.join(self.mail_root, name, "Maildir"), data)
                done.add(name)
        except OSError as error:
            log.error("delivery failed: %s", error)
            return "451 4.3.0 delivery failed"
        log.info("delivered %d bytes from %s to %s", len(data), envelope.mail_from, sorted(done))
        return "250 OK delivered"


class Authenticator:
    def __init__(self, users, domain):
        self.users, self.domain = users, domain

    def __call__(self, server, session, envelope, mechanism, auth_data):
        if not isinstance(auth_data, LoginPassword):
            return AuthResult(success=False, handled=False)
        login = auth_data.login.decode("utf-8", "replace").lower()
        if "@" in login:
            login = local_name(login, self.domain) or ""
        ok = login in self.users and auth_data.password.decode("utf-8", "replace") == self.users[login]
        log.info("AUTH %s for %s: %s", mechanism, login, "ok" if ok else "refused")
        return AuthResult(success=ok, handled=False)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--smtp-port", type=int, required=True)
    p.add_argument("--smtps-port", type=int, required=True)
    p.add_argument("--cert", required=True)
    p.add_argument("--key", required=True)
    p.add_argument("--users", required=True)
    p.add_argument("--mail-root", required=True)
    p.add_argument("--domain", default="example.org")
    p.add_argument("--uid", type=int)
    p.add_argument("--gid", type=int)
    args = p.parse_args()
    logging.basicConfig(stream=sys.stderr, level=logging.INFO,
                        format="%(asctime)s %(name)s %(levelname)s %(message)s")
    # aiosmtpd warns that AUTH is allowed without its own STARTTLS on the
    # SMTPS listener, where the whole connection is TLS already.
    logging.getLogger("mail.log").setLevel(logging.ERROR)

    users = read_users(args.users)
    tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    tls.minimum_version = ssl.TLSVersion.TLSv1_2
    tls.load_cert_chain(args.cert, args.key)
    handler = Handler(users, args.mail_root, args.domain)
    auth = Authenticator(users, args.domain)

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)

    def starttls_server():
        return SMTP(handler, hostname="localhost", tls_context=tls, require_starttls=True,
                    auth_required=True, auth_require_tls=True, authenticator=auth)

    def smtps_server():
        return SMTP(handler, hostname="localhost", auth_required=True, auth_require_tls=False,
                    authenticator=auth)

    servers = [
        loop.run_until_complete(loop.create_server(starttls_server, "127.0.0.1", args.smtp_port)),
        loop.run_until_complete(loop.create_server(smtps_server, "127.0.0.1", args.smtps_port, ssl=tls)),
    ]
    if args.gid is not None and args.uid is not None and os.getuid() == 0:
        os.setgroups([])
        os.setgid(args.gid)
        os.setuid(args.uid)
    log.info("listening on 127.0.0.1:%d (STARTTLS) and 127.0.0.1:%d (TLS) as uid %d",
             args.smtp_port, args.smtps_port, os.getuid())
    loop.add_signal_handler(signal.SIGTERM, loop.stop)
    loop.add_signal_handler(signal.SIGINT, loop.stop)
    try:
        loop.run_forever()
    finally:
        for s in servers:
            s.close()


if __name__ == "__main__":
    main()
