#!/usr/bin/env bash
# Makes a new test certificate authority and a server certificate for
# 127.0.0.1 and localhost, both valid for twenty years. The authority's key is
# deleted at the end: nothing but these files can be signed with it.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

openssl ecparam -name prime256v1 -genkey -noout -out "$tmp/ca.key"
openssl req -x509 -new -key "$tmp/ca.key" -sha256 -days 7300 \
  -subj "/O=kelvaris demo/CN=kelvaris demo test CA" \
  -addext "basicConstraints=critical,CA:TRUE,pathlen:0" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -out ca.pem

openssl ecparam -name prime256v1 -genkey -noout -out "$tmp/server.key"
openssl pkcs8 -topk8 -nocrypt -in "$tmp/server.key" -out server.key
openssl req -new -key server.key -subj "/O=kelvaris demo/CN=127.0.0.1" -out "$tmp/server.csr"
cat > "$tmp/ext.cnf" <<'EXT'
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature,keyAgreement
extendedKeyUsage=serverAuth
subjectAltName=IP:127.0.0.1,DNS:localhost
EXT
openssl x509 -req -in "$tmp/server.csr" -CA ca.pem -CAkey "$tmp/ca.key" -CAcreateserial \
  -CAserial "$tmp/ca.srl" -sha256 -days 7300 -extfile "$tmp/ext.cnf" -out server.pem
openssl verify -CAfile ca.pem server.pem
