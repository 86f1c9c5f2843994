#!/usr/bin/python3
"""A mail server for the tests (Debian's python3-aiosmtpd) on 127.0.0.1.

Every mail it takes is written to DIR/NNNN.json: the envelope, whether it came over TLS, the
headers as sent, and the subject and text as Python's email package decodes them (so that the
tests read the mail as a mail program would, not as QRB wrote it). DIR/commands.log gets a line
for every AUTH, MAIL, RCPT and DATA with the TLS state at that moment.

  smtp-server.py --port P --dir DIR [--tls CERT KEY] [--auth USER:PASSWORD] [--refuse PREFIX]
                 [--delay SECONDS]

--tls offers STARTTLS and refuses mail before it; without it the server offers no TLS at all.
--refuse answers 550 to recipients starting with PREFIX. Prints "ready" once it listens; exit code 3
when the port is taken. Ends on SIGTERM, or when its standard input closes (the test that started it
ended, however it ended).
"""
import argparse
import email
import email.header
import email.policy
import json
import os
import signal
import ssl
import sys
import threading
import time

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword

parser = argparse.ArgumentParser()
parser.add_argument('--port', type=int, required=True)
parser.add_argument('--dir', required=True)
parser.add_argument('--tls', nargs=2, metavar=('CERT', 'KEY'))
parser.add_argument('--auth')
parser.add_argument('--refuse')
parser.add_argument('--delay', type=float, default=0)
args = parser.parse_args()

lock = threading.Lock()


def log(session, what):
    with lock, open(os.path.join(args.dir, 'commands.log'), 'a') as f:
        f.write(f'{what} tls={1 if session.ssl else 0}\n')


class Handler:
    count = 0

    async def handle_MAIL(self, server, session, envelope, address, options):
        log(session, 'MAIL')
        envelope.mail_from = address
        return '250 OK'

    async def handle_RCPT(self, server, session, envelope, address, options):
        log(session, 'RCPT')
        if args.refuse and address.startswith(args.refuse):
            return '550 5.1.1 no such user here'
        envelope.rcpt_tos.append(address)
        return '250 OK'

    async def handle_DATA(self, server, session, envelope):
        log(session, 'DATA')
        if args.delay:
            time.sleep(args.delay)
        raw = envelope.original_content or envelope.content
        parsed = email.message_from_bytes(raw, policy=email.policy.default)
        plain = email.message_from_bytes(raw, policy=email.policy.compat32)

        def decoded(name):
            # RFC 2047 as mail programs read it: blanks between encoded words are not part of the text.
            return str(email.header.make_header(email.header.decode_header(plain[name] or '')))
        with lock:
            Handler.count += 1
            number = Handler.count
        record = {
            'from': envelope.mail_from,
            'to': envelope.rcpt_tos,
            'tls': bool(session.ssl),
            'headers': [[k, v] for k, v in plain.items()],
            'subject': decoded('subject'),
            'sender': decoded('from'),
            'contentType': parsed.get_content_type(),
            'charset': parsed.get_content_charset(),
            'text': parsed.get_content(),
            'raw': raw.decode('ascii', errors='replace'),
        }
        path = os.path.join(args.dir, f'{number:04d}.json')
        with open(path + '.part', 'w') as f:
            json.dump(record, f, ensure_ascii=False)
        os.rename(path + '.part', path)
        return '250 OK'


def authenticator(server, session, envelope, mechanism, data):
    log(session, 'AUTH')
    ok = isinstance(data, LoginPassword) and f'{data.login.decode()}:{data.password.decode()}' == args.auth
    return AuthResult(success=ok)


options = {}
if args.tls:
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(*args.tls)
    options.update(tls_context=context, require_starttls=True)
if args.auth:
    options.update(authenticator=authenticator, auth_required=True, auth_require_tls=bool(args.tls))

controller = Controller(Handler(), hostname='127.0.0.1', port=args.port, **options)
try:
    controller.start()
except Exception:
    sys.exit(3)
print('ready', flush=True)
stop = threading.Event()
signal.signal(signal.SIGTERM, lambda *_: stop.set())
signal.signal(signal.SIGINT, lambda *_: stop.set())


def watch_parent():
    # The test holds our standard input open; when it ends, even by a crash, so do we.
    sys.stdin.read()
    stop.set()


threading.Thread(target=watch_parent, daemon=True).start()
stop.wait()
controller.stop()
