#!/usr/bin/env bash
# Makes the seed corpus of every fuzz target from tests/fixtures (python3 writes the few
# structured inputs), a few small files each. The decrypt seeds' padding is random, so a new run
# gives other bytes of the same meaning.
set -euo pipefail
cd "$(dirname "$0")"
fixtures=../../fixtures
rm -rf cert_alias native_cert_entry native_key_entry key_blob public_key decrypt store_file \
    key_container
mkdir -p cert_alias native_cert_entry native_key_entry key_blob public_key decrypt store_file \
    key_container
for name in plain-cn universal-string t61-utf8-bytes value-quotes serial-zero dn-c-first; do
    cp "$fixtures/alias/$name.der" cert_alias/
done
cp "$fixtures/keyentry/leaf.der" cert_alias/keyentry-leaf.der
for name in plain-cn utf8-latin value-semicolon universal-string; do
    cp "$fixtures/alias/$name.der" native_cert_entry/
done
cp "$fixtures/chain/leaf.der" native_cert_entry/chain-leaf.der
cp "$fixtures/keyentry/key1-public.der" "$fixtures/keyentry/key2-public.der" public_key/
python3 - "$fixtures" <<'EOF'
import os, random, struct, sys

fixtures = sys.argv[1]

def read(path):
    with open(os.path.join(fixtures, path), "rb") as file:
        return file.read()

def write(path, data):
    with open(path, "wb") as file:
        file.write(data)

NUMBERS = ["n", "p", "q", "dp", "dq", "qinv", "d", "e"]

def crt(key):
    return [read("keyentry/%s/%s.bin" % (key, number)) for number in NUMBERS]

# fuzz::takeObjectArray's form: a count byte, then per element a kind byte (0 byte[], 1 null,
# 2 String, 3 Object[]) and, for byte[] and String, a 16-bit little-endian length and the bytes.
def objects(elements):
    out = bytes([len(elements)])
    for element in elements:
        if element is None:
            out += b"\x01"
        else:
            out += b"\x00" + struct.pack("<H", len(element)) + element
    return out

leaf, mid1, mid2, root, other = (read("keyentry/%s.der" % name)
                                 for name in ("leaf", "mid1", "mid2", "root", "other"))
key1, key2 = crt("key1"), crt("key2")

write("native_key_entry/key1-full-chain", objects(key1) + objects([leaf, mid2, mid1, root]))
write("native_key_entry/key1-leaf", objects(key1) + objects([leaf]))
write("native_key_entry/key2-self-signed", objects(key2) + objects([other]))
write("native_key_entry/null-link", objects(key1) + objects([leaf, None, root]))

write("key_blob/key1", objects(key1))
write("key_blob/key2-seven", objects(key2[:7]))
write("key_blob/null-element", objects(key1[:3] + [None] + key1[4:]))
write("key_blob/short-e", objects(key1[:7] + [b"\x01\x00\x01"]))

write("public_key/tiny", bytes.fromhex("300d0208c5a3b1f0e9d7c3b5020103"))

# PKCS #1 v1.5 encryption with key1's numbers, the cipher text least significant byte first.
n = int.from_bytes(key1[0], "little")
e = int.from_bytes(key1[7], "little")
random.seed(1)
message = b"fuzz"
padding = bytes(random.randint(1, 255) for _ in range(256 - 3 - len(message)))
block = b"\x00\x02" + padding + b"\x00" + message
cipher = pow(int.from_bytes(block, "big"), e, n).to_bytes(256, "little")
alias = b"CN=Entry Mid Two,54"
write("decrypt/crt-final", b"\x02" + cipher)
write("decrypt/alias-final", b"\x03" + cipher)
write("decrypt/alias-given", b"\x07" + struct.pack("<H", len(alias)) + alias + cipher)
write("decrypt/crt-short", b"\x00" + cipher[:10])

def units(text):
    return text.encode("utf-16-le")

def number(value):
    return struct.pack("<I", value)

# Property 2 as the emulation keeps it: type, flags, key spec, each name as presence, unit count
# and units, then the parameters (id, flags, length, bytes).
def key_prov_info(container, provider, parameters=()):
    out = number(1) + number(0) + number(1)
    for name in (container, provider):
        out += number(1) + number(len(name)) + units(name)
    out += number(len(parameters))
    for parameter_id, data in parameters:
        out += number(parameter_id) + number(0) + number(len(data)) + data
    return out

def certificate_file(sections):
    out = b"BRVCERT1"
    for section_id, data in sections:
        out += number(section_id) + number(len(data)) + data
    return out

enhanced = "Microsoft Enhanced Cryptographic Provider v1.0"
write("store_file/key-entry", certificate_file([(0, leaf), (2, key_prov_info("quorvjcecont", enhanced))]))
write("store_file/plain", certificate_file([(0, read("alias/plain-cn.der"))]))
write("store_file/properties", certificate_file(
    [(0, other), (11, units("fuzz\0")), (2, key_prov_info("quorvjcecont", enhanced, [(1, b"abc")]))]))

def private_key_blob(numbers, algorithm):
    header = bytes([7, 2, 0, 0]) + number(algorithm) + b"RSA2" + number(8 * len(numbers[0]))
    return header + numbers[7][:4] + b"".join(numbers[:7])

def container(slots):
    out = b"BRVKEYS1"
    for spec, blob in slots:
        out += number(spec) + number(len(blob)) + blob
    return out

write("key_container/exchange", container([(1, private_key_blob(key1, 0xA400))]))
write("key_container/both", container([(2, private_key_blob(key2, 0x2400)),
                                       (1, private_key_blob(key1, 0xA400))]))
write("key_container/empty", container([]))
EOF
