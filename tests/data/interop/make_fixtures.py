#!/usr/bin/env python3
"""Writes the interchange test fixtures from first principles, independently of
Velmora's own readers: the protobuf of a migration payload is put together by
hand, the vault's cryptography is python's hashlib.scrypt and the AES-256-GCM
of the `cryptography` module. The outputs are committed; run again only to
change them:  python3 make_fixtures.py  (needs python3-cryptography)."""
import base64
import hashlib
import json
import os
import subprocess
import urllib.parse

from cryptography.hazmat.primitives.ciphers.aead import AESGCM

RFC_KEY = b"12345678901234567890"          # the RFC 4226 / 6238 test key
KEY_A = bytes(range(1, 11))                 # 10 bytes: Base32 without padding
KEY_B = bytes(range(40, 51))                # 11 bytes: Base32 with padding


def varint(n):
    out = b""
    while True:
        byte = n & 0x7F
        n >>= 7
        out += bytes([byte | (0x80 if n else 0)])
        if not n:
            return out


def field(number, wire, value):
    tag = varint(number << 3 | wire)
    if wire == 0:
        return tag + varint(value)
    return tag + varint(len(value)) + value


def otp(secret, name, issuer, algorithm, digits, kind, counter=None):
    body = field(1, 2, secret) + field(2, 2, name.encode()) + field(3, 2, issuer.encode())
    body += field(4, 0, algorithm) + field(5, 0, digits) + field(6, 0, kind)
    if counter is not None:
        body += field(7, 0, counter)
    return body


def migration_uri(entries, urlsafe):
    payload = b"".join(field(1, 2, e) for e in entries)
    payload += field(2, 0, 1) + field(3, 0, 1) + field(4, 0, 0) + field(5, 0, 77)
    if urlsafe:
        data = base64.urlsafe_b64encode(payload).decode().rstrip("=")
    else:
        data = urllib.parse.quote(base64.b64encode(payload).decode(), safe="")
    return "otpauth-migration://offline?data=" + data


def b32(key):
    return base64.b32encode(key).decode()


with open("migration.txt", "w") as out:
    # standard Base64, percent-encoded: a TOTP with unspecified settings, an
    # HOTP of eight digits at counter 5 whose name carries its issuer, a SHA-256 one
    out.write(migration_uri([
        otp(RFC_KEY, "alice@example.com", "Example", 0, 0, 2),
        otp(KEY_A, "Bank:bob", "", 1, 2, 1, 5),
        otp(KEY_B, "carol", "Sha", 2, 1, 2),
    ], urlsafe=False) + "\n")
    # URL-safe Base64 without padding, and a key whose bytes give "-" and "_"
    out.write(migration_uri([otp(bytes([0xfb, 0xff, 0xfe] * 7), "dave", "Safe", 1, 1, 2)],
                            urlsafe=True) + "\n")

db = {"version": 2, "entries": [
    {"type": "totp", "uuid": "0", "name": "erin", "issuer": "Vaulted", "note": "",
     "info": {"secret": b32(KEY_B), "algo": "SHA1", "digits": 8, "period": 60}},
    {"type": "hotp", "uuid": "1", "name": "frank", "issuer": "", "note": "",
     "info": {"secret": b32(RFC_KEY).lower(), "algo": "SHA1", "digits": 6, "counter": 3}},
    {"type": "steam", "uuid": "2", "name": "gabe", "issuer": "Steam", "note": "",
     "info": {"secret": b32(KEY_A), "algo": "SHA1", "digits": 5, "period": 30}},
    {"type": "totp", "uuid": "3", "name": "heidi", "issuer": "Long", "note": "",
     "info": {"secret": b32(KEY_A), "algo": "SHA512", "digits": 6, "period": 30}},
    {"type": "totp", "uuid": "4", "name": "ivan", "issuer": "Typed", "note": "",
     "info": {"secret": b32(KEY_A), "algo": "SHA1", "digits": "6", "period": 30}},
]}
with open("vault-plain.json", "w") as out:
    json.dump({"version": 1, "header": {"slots": None, "params": None}, "db": db}, out, indent=1)

# Encrypted with the password "correct horse"; N 1024 keeps the test quick.
password, n, r, p = b"correct horse", 1024, 8, 1
salt, master = os.urandom(32), os.urandom(32)
wrap = hashlib.scrypt(password, salt=salt, n=n, r=r, p=p, dklen=32)
key_nonce, db_nonce = os.urandom(12), os.urandom(12)
sealed_key = AESGCM(wrap).encrypt(key_nonce, master, None)
sealed_db = AESGCM(master).encrypt(db_nonce, json.dumps(db).encode(), None)
vault = {"version": 1, "header": {
    "slots": [
        {"type": 2, "uuid": "x", "key": "00" * 32},  # another slot type: skipped
        {"type": 1, "uuid": "y", "key": sealed_key[:-16].hex(),
         "key_params": {"nonce": key_nonce.hex(), "tag": sealed_key[-16:].hex()},
         "n": n, "r": r, "p": p, "salt": salt.hex()}],
    "params": {"nonce": db_nonce.hex(), "tag": sealed_db[-16:].hex()}},
    "db": base64.b64encode(sealed_db[:-16]).decode()}
with open("vault-encrypted.json", "w") as out:
    json.dump(vault, out, indent=1)

# Two QR codes side by side (a Key URI and the URL-safe migration URI), as PNG
# and as JPEG, drawn by qrencode and joined by ImageMagick.
with open("migration.txt") as lines:
    second = lines.read().splitlines()[1]
subprocess.run(["qrencode", "-s", "4", "-m", "4", "-o", "/tmp/qr-a.png",
                "otpauth://totp/Pictured:judy?secret=GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ"
                "&issuer=Pictured"], check=True)
subprocess.run(["qrencode", "-s", "4", "-m", "4", "-o", "/tmp/qr-b.png", second], check=True)
subprocess.run(["convert", "/tmp/qr-a.png", "/tmp/qr-b.png", "-background", "white", "+append",
                "-type", "Grayscale", "qr-two-codes.png"], check=True)
subprocess.run(["convert", "qr-two-codes.png", "-quality", "90", "qr-two-codes.jpg"], check=True)
