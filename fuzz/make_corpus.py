#!/usr/bin/env python3
"""Writes the seed inputs of every harness into fuzz/corpus/<harness>/.

Run it after changing a harness's input format; the output is committed. Seeds cover the
shapes worth starting from: valid messages of every kind, the edges of each format, and
a few broken ones. Found inputs worth keeping are added by hand as crash-<what> files,
which this script leaves alone.
"""
import os
import random
import shutil
import struct
import sys
import zlib

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'corpus')

# Message ids of the login-time requests (see ReceivePath.h).
LOGIN, LISTEN, LOGIN_PING = 1, 8, 7


def frame(message_id, body):
    return struct.pack('<ii', message_id, len(body)) + body


def deflate(data, level=6):
    c = zlib.compressobj(level)
    return c.compress(data) + c.flush(zlib.Z_SYNC_FLUSH)


ALERTS = [
    b'QS\r\nsymbol=A&last=1.5&prev_close=1&sma_divergence=2&time=09:30',
    b'QS\r\nsymbol=AB%26C&last=&prev_close=x&time=09%3A31',
    b'BB\r\nsymbol=B&last=2&prev_close=1&dist_from_bb=0.5&action=add',
    b'BB\r\nsymbol=b&last=2&dist_from_bb=-0.7&action=add',
    b'BB\r\nsymbol=B&action=delete',
    b'BB\r\nsymbol=Q&action=add',
    b'SYM\r\nsymbol=C',
    b'PTS\r\nsymbol0=D&last0=1&change0=0.5&percent_vol0=3&symbol1=E&last1=2&change1=-1&symbol2=F&last2=x&change2=1',
    b'SL\r\nsymbol=E&last=3&change=-1',
    b'ROOK\r\ntime=09:31&symbol=F&change=1&bb=2&volume=100&count=3&rank=1&rv=2',
    b'TAM\r\ntime=09:32&symbol=G&last=5&volume=10&count=1&prev_close=4',
    b'TAM\r\nsymbol=G&last=0&prev_close=0',
    b'WEX\r\n' + b'&'.join(b'symbol%d=S%d&price_spike%d=%d&vol_rate%d=1.5&last%d=%d&change%d=-0.%d&volume%d=%d'
                           % (i, i, i, i - 2, i, i, i + 1, i, i, i, i * 1000) for i in range(5)),
    b'WEX\r\nsymbol0=H',
    b'UNKNOWN\r\nsymbol=Z',
    b'QS',
    b'QS\r\n',
]


def corpora():
    c = {}
    rnd = random.Random(10)

    c['fuzz_form'] = [b'a=1&&b=&=3&lone&a=2', b'symbol=AB%26C&last=12.5&note=x+y%3D1',
                      b'STOP\r\nGo away.\r\n', b'%zz=%4&%%=%41%4a', b'k=v\nw=\r\nx\0=y']

    frames = (frame(1, b'SESSION ID\r\nabc') + frame(2, b'') + frame(3, b'Wex Top\r\nsymbol=A&last=1.5')
              + frame(-1, b'x'))
    c['fuzz_inflate_frames'] = [b'\x01' + deflate(frames), b'\x05' + zlib.compress(frames), b'\x00' + frames,
                                b'\x03' + deflate(struct.pack('<ii', 4, -5)), b'\x01garbage, not zlib']

    c['fuzz_p64'] = [b'', b'a', b'ab', b'abc', b'abcd', b'\0\0\0', b'\xff\xfe\xfd',
                     bytes(range(256)), bytes(rnd.randrange(256) for _ in range(61))]

    c['fuzz_hashtable'] = [bytes(rnd.randrange(256) for _ in range(n)) for n in (16, 64, 200, 600, 1500)]
    # Many inserts, then a walk that removes as it goes.
    c['fuzz_hashtable'].append(b''.join(bytes([0, 2, i % 4, (i >> 2) % 4, 1, 65]) for i in range(40))
                               + b'\x08' + b'\x01\x05' * 50)

    c['fuzz_numbers'] = [b'1.5', b'-0.25', b'2E3', b'', b'+5', b'-0', b'.5', b'5.', b'1e', b'1e+5', b'--1',
                         b'+-1', b'1e400', b'1e-400', b'4.9e-324', b'0001', b'1,5', b' 7', b'$7fffffff',
                         b'$80000000', b'-$80000000', b'-2147483648', b'2147483648', b'0x1F', b'0X1f',
                         b'x10', b'-x10', b'0x', b'$', b'  -12', b'12a', b'00000000000000000000042', b'nan',
                         b'inf']

    c['fuzz_config'] = [
        b'\xef\xbb\xbf[Connection]\r\naddress = 127.0.0.1:9339\r\n',
        b'; comment\nkey=before any section\n[Alert Window 1]\nSubscription=QS\nsubscription=again\n'
        b'display = set \ncolor=$FF00\nvolume=1\n[ alert window 1 ]\nextra=x\n',
        b'[a]\rk=v\r\r[b]\nk\n=empty key\n[]\nx=1\n[unclosed\ny=2\n[A]\nK=second\n',
        b'[s]\nn=0x10\nm=-2147483648\no=2147483648\np= 12\nflag=1 \nflag2=true\n',
    ]

    c['fuzz_records'] = ALERTS + [b'WEX\r\nsymbol0=A&symbol1=&symbol2=C', b'PTS\r\nsymbol0=&last0=1&change0=1',
                                  b'PTS\r\nsymbol0=D&last0=1&change0=0.5&symbol1=E&last1=2',
                                  b'TAM\r\nlast=nan&prev_close=1e400', b'ROOK\r\nvolume=$ff&count=-x1&rank=',
                                  b'QS\r\nsym%62ol=A%26B&symbol=C&l%61st=1%2E5&time=&last=%',
                                  b'WEX\r\nsymbol1=B&symbol0=A&symbol00=X&symbol%30=Z&price_spike01=1&volume1=7&symbol2=',
                                  b'PTS\r\nsymbol0=A&last0=1&change0=1&symbol999999999=Q&symbol1000000000=R&last1=2']

    c['fuzz_socks4'] = [b'\x00\x00\x5a\x00\x00\x00\x00\x00\x00', b'\x03\x00\x5b\x12\x34\x7f\x00\x00\x01data',
                        b'\x08\x00\x5a\x00\x50\x00\x00\x00\x00early bytes', b'\x01\x00\x5a\x00', b'\x00\x05\x5c',
                        b'\x02\x04\x5a\x00\x00\x00\x00\x00\x00']

    c['fuzz_tunnel'] = [b'\x00\x00ignored\r\n/upload\r\nSTREAM', b'\x03\x01hello\r\nhttps://other.example/u?a=1\r\n',
                        b'\x01\x00\r\n\r\n\x01\x02\x03', b'\x10\x02x\r\n  ../up load \r\nrest\r\nmore',
                        b'\x05\x03only one line\r\nand no end', b'\x02\x04\r\r\n\n\r\n\r\n']

    c['fuzz_login'] = [b'SESSION ID\r\nabc', b'STOP\r\nGo away.', b'STOP', b'SESSION ID', b'junk\r\nmore',
                       b'\r\n', b'STOP\nLF only\n', b'SESSION ID\r\n\r\nx', b'STOP\r\n\xe9t\xe9\r\n']

    login = frame(LOGIN, b'SESSION ID\r\nabc') + frame(LOGIN_PING, b'')
    everything = login + b''.join(frame(LISTEN, a) for a in ALERTS)
    receive = [b'\x01' + everything,                    # plain frames, compressed here, all at once
               b'\x05' + everything,                    # the same in pieces of 1 byte
               b'\x29' + everything,                    # pieces of 118 bytes
               b'\x00' + deflate(everything),           # a real zlib stream as the socket brings it
               b'\x1c' + deflate(everything, 1),        # ... in pieces
               b'\x00' + zlib.compress(everything),     # a finished stream, then nothing
               b'\x01' + frame(LOGIN, b'STOP\r\nNo.') + frame(LOGIN_PING, b'') + frame(LISTEN, ALERTS[0]),
               b'\x01' + login + struct.pack('<ii', LISTEN, -5) + frame(LISTEN, ALERTS[0]),
               b'\x01' + login + struct.pack('<ii', LISTEN, 0x7ffffff0) + b'x' * 10,
               b'\x01' + b''.join(frame(i, b'x' * i) for i in range(-3, 12)),
               b'\x00garbage instead of zlib',
               b'\x00' + deflate(login + frame(LISTEN, ALERTS[0]))[:-7],    # cut off mid-stream
               b'\x00' + deflate(bytes(1 << 20), 9),                        # a megabyte of empty frames
               b'\x01' + login + b''.join(frame(LISTEN, b'BB\r\nsymbol=S%d&dist_from_bb=%d&action=add' % (i, i % 7))
                                          for i in range(60))]
    c['fuzz_receive'] = receive
    return c


def main():
    for harness, seeds in corpora().items():
        folder = os.path.join(ROOT, harness)
        os.makedirs(folder, exist_ok=True)
        for name in os.listdir(folder):
            if name.startswith('seed-'):
                os.remove(os.path.join(folder, name))
        for i, seed in enumerate(seeds):
            with open(os.path.join(folder, 'seed-%02d' % i), 'wb') as f:
                f.write(seed)
    return 0


if __name__ == '__main__':
    sys.exit(main())
