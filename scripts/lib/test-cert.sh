# make_test_cert DIR [NAMES]: a self-signed certificate for 127.0.0.1, or for
# the subjectAltName NAMES ("DNS:localhost,IP:127.0.0.1") (DIR/cert.pem, its
# key DIR/key.pem), for tests and benchmarks that serve https on loopback.
make_test_cert() {
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
    -subj /CN=127.0.0.1 -addext "subjectAltName=${2:-IP:127.0.0.1}" \
    -keyout "$1/key.pem" -out "$1/cert.pem" 2>/dev/null
}
