#!/bin/sh
# make_certificates.sh FOLDER: a certificate authority and server certificates
# for the HTTPS tests, made afresh by the openssl command-line tool:
#   ca.pem         the test authority the tests trust
#   server.key     the key of every server certificate below
#   good.pem       127.0.0.1 and localhost, signed by ca.pem
#   expired.pem    the same names, signed by ca.pem, expired yesterday
#   wronghost.pem  only the name other.invalid, signed by ca.pem
#   untrusted.pem  127.0.0.1 and localhost, signed by an authority nobody trusts
set -eu
out=$1
rm -rf "$out.new"
mkdir -p "$out.new"
cd "$out.new"
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null; }
authority() {
  key "$1.key"
  openssl req -x509 -new -key "$1.key" -subj "/CN=Pavlune test $1" -days 30 -out "$1.pem" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign
}
# sign NAME AUTHORITY DAYS NAMES
sign() {
  printf 'basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\nsubjectAltName=%s\n' "$4" >"$1.ext"
  openssl req -new -key server.key -subj "/CN=$1" -out "$1.csr"
  openssl x509 -req -in "$1.csr" -CA "$2.pem" -CAkey "$2.key" -set_serial "0x$(openssl rand -hex 8)" \
    -days "$3" -extfile "$1.ext" -out "$1.pem" 2>/dev/null
  rm -f "$1.csr" "$1.ext"
}
authority ca
authority rogue
key server.key
sign good ca 30 IP:127.0.0.1,DNS:localhost
sign expired ca -1 IP:127.0.0.1,DNS:localhost
sign wronghost ca 30 DNS:other.invalid
sign untrusted rogue 30 IP:127.0.0.1,DNS:localhost
rm -f rogue.key rogue.pem ca.key ca.srl
cd ..
rm -rf "$out"
mv "$out.new" "$out"
