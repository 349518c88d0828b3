#!/bin/sh
# Makes the test certificates in the folder $1 with the openssl command line:
#   ca.pem / ca.key          a test certificate authority
#   server.pem / server.key  a server certificate for localhost and 127.0.0.1, signed by the CA
#   self.pem / self.key      a self-signed certificate for localhost
set -eu
out="$1"
mkdir -p "$out"
cd "$out"
cat > san.cnf <<'CNF'
subjectAltName = DNS:localhost, IP:127.0.0.1
basicConstraints = CA:FALSE
CNF
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Brindle Test CA/O=Brindle" \
  -keyout ca.key -out ca.pem -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost/O=Brindle" -keyout server.key -out server.csr 2>/dev/null
openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -out server.pem \
  -extfile san.cnf 2>/dev/null
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=localhost/O=Self Signed" \
  -keyout self.key -out self.pem -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" 2>/dev/null
echo done
