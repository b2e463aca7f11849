#!/usr/bin/env bash
# Makes the certificates of the HTTPS tests in OUTDIR with openssl: a test
# certificate authority that the tests trust (ca.pem), and three server
# certificates with their keys, each valid for ten days:
#   server.pem/.key      for 127.0.0.1, from the test authority
#   wronghost.pem/.key   for reports.example.org, from the test authority
#   untrusted.pem/.key   for 127.0.0.1, from an authority nobody trusts
# Wine's WinINet matches a host only against DNS names, so 127.0.0.1 is in
# the names as DNS:127.0.0.1 beside IP:127.0.0.1.
#
#   make_test_certificates.sh OUTDIR
set -euo pipefail

out="$1"
mkdir -p "$out"
cd "$out"

make_authority() {  # make_authority NAME SUBJECT
    openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 10 -subj "$2" \
        -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
        -keyout "$1.key" -out "$1.pem" 2>/dev/null
}

make_server() {  # make_server NAME AUTHORITY HOST SUBJECT-ALT-NAMES
    openssl req -newkey rsa:2048 -nodes -sha256 -subj "/CN=$3" -keyout "$1.key" -out "$1.csr" 2>/dev/null
    printf 'subjectAltName=%s\nbasicConstraints=CA:FALSE\nkeyUsage=digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n' \
        "$4" >"$1.ext"
    openssl x509 -req -sha256 -days 10 -in "$1.csr" -CA "$2.pem" -CAkey "$2.key" -CAcreateserial \
        -extfile "$1.ext" -out "$1.pem" 2>/dev/null
    rm -f "$1.csr" "$1.ext"
}

make_authority ca "/CN=Brevora Test Authority"
make_authority other-ca "/CN=Untrusted Test Authority"
make_server server ca 127.0.0.1 "DNS:127.0.0.1,IP:127.0.0.1"
make_server wronghost ca reports.example.org "DNS:reports.example.org"
make_server untrusted other-ca 127.0.0.1 "DNS:127.0.0.1,IP:127.0.0.1"
rm -f ./*.srl
