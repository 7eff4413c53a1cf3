#!/usr/bin/env bash
# The archive checks itself against the CRC-32 in its block: a match extracts silently; a
# mismatch warns, then extracts anyway when no command is configured, and stops when one is.
# Files with a distributor's identity (icon, version, requireAdministrator), before and after
# signing (the signature is no part of the archive), extract silently, --crc or not, and a
# local header slipped into the certificate table, which leaves the signature valid, is
# never extracted.
source "$(dirname "$0")/lib.sh"

mkdir src && head -c 200000 /dev/urandom > src/data.bin
(cd src && zip -q -X -0 ../p.zip data.bin)

make_sfx -o good.exe -d "$(winpath good)" --skip-dialog --overwrite --no-explorer --crc p.zip >/dev/null
expect_eq "matching CRC: exit code" "$(run_to_end good.exe)" 0
check "matching CRC: extracted without a word" cmp -s src/data.bin good/data.bin

# Damage the last byte of the file (the end record's comment length): the stub still finds
# the archive, but its CRC-32 no longer matches.
tamper() { python3 -c 'import sys; d=bytearray(open(sys.argv[1],"rb").read()); d[-1]^=1; open(sys.argv[1],"wb").write(d)' "$1"; }
make_sfx -o warned.exe -d "$(winpath warned)" --skip-dialog --overwrite --no-explorer --crc p.zip >/dev/null
tamper warned.exe
start_stub warned.exe
check "mismatch: the warning appears" driver wait Warning
expect_eq "mismatch: its text" "$(driver text Warning 65535)" "CRC check error!"
driver click Warning 1
wait_stub
expect_eq "mismatch without a command: exit code" "$STUB_STATUS" $LOW_FAILED
check "mismatch without a command: extracted anyway" cmp -s src/data.bin warned/data.bin

make_sfx -o stopped.exe -d "$(winpath stopped)" --skip-dialog --overwrite --no-explorer --crc -c setup.exe p.zip >/dev/null 2>&1
tamper stopped.exe
start_stub stopped.exe
driver wait Warning >/dev/null
driver click Warning 1
wait_stub
expect_eq "mismatch with a command: exit code" "$STUB_STATUS" $LOW_FAILED
check "mismatch with a command: nothing extracted" test ! -e stopped

# A throwaway certificate. A warning would wait for an answer: exit code 0 means none came.
# The files carry a distributor's identity: the stub's resources rebuilt before signing.
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 1 -subj "/CN=DUD-ORE test" 2>/dev/null
verifies() { osslsigncode verify -CAfile cert.pem -in "$1" >/dev/null 2>&1; }
for n in 16 32 256; do convert -size ${n}x$n 'gradient:rgba(0,128,0,0.7)-rgba(255,255,0,1)' PNG32:i$n.png; done
icotool -c -o brand.ico i16.png i32.png -r i256.png
brand=(--icon=brand.ico --version-info=CompanyName=Tool\ Makers --version-info=FileVersion=3.1.0.2
  --execution-level=requireAdministrator)
for crc in --crc ""; do
  name=signed${crc:+-crc}
  make_sfx -o "$name-unsigned.exe" -d "$(winpath "$name")" --skip-dialog --overwrite --no-explorer $crc "${brand[@]}" p.zip >/dev/null
  expect_eq "$name, before signing: exit code" "$(run_to_end "$name-unsigned.exe")" 0
  check "$name, before signing: extracted byte for byte" cmp -s src/data.bin "$name/data.bin"
  rm -rf "$name"
  osslsigncode sign -certs cert.pem -key key.pem -n "DUD-ORE test" -in "$name-unsigned.exe" -out "$name.exe" >/dev/null
  check "$name: the signature verifies" verifies "$name.exe"
  check "$name: mksfx sees the signature" grep -q "the self-check stops there" <("$DUDORE_MKSFX" --test "$name.exe")
  check "$name: mksfx shows the identity" grep -q "execution level: requireAdministrator" <("$DUDORE_MKSFX" --show "$name.exe")
  expect_eq "$name: exit code, no warning" "$(run_to_end "$name.exe")" 0
  check "$name: extracted byte for byte" cmp -s src/data.bin "$name/data.bin"
done

# The certificate table grows by a stored "data.bin" entry (its length and the security
# directory's size say so): the signature still verifies; the planted entry is not taken.
python3 "$MKZIP" planted.zip data.bin '=planted'
python3 - <<'PY'
import struct
image = bytearray(open("signed.exe", "rb").read())
planted = open("planted.zip", "rb").read()
planted += bytes(-len(planted) % 8)
pe = struct.unpack_from("<I", image, 0x3C)[0]
directory = pe + 24 + (96 if struct.unpack_from("<H", image, pe + 24)[0] == 0x10B else 112) + 4 * 8
offset, size = struct.unpack_from("<II", image, directory)
struct.pack_into("<I", image, directory + 4, size + len(planted))
struct.pack_into("<I", image, offset, struct.unpack_from("<I", image, offset)[0] + len(planted))
open("planted.exe", "wb").write(image + planted)
PY
check "planted: the signature still verifies" verifies planted.exe
rm -rf signed
expect_eq "planted: exit code" "$(run_to_end planted.exe)" 0
check "planted: the archive's own entry, not the planted one" cmp -s src/data.bin signed/data.bin

finish
