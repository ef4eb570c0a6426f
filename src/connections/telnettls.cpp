// TLS of the telnet connection: the client context, PKCS#12 client
// certificates with the password prompt, server verification (optional),
// the handshake steps and the alert messages.
#include <arpa/inet.h>
#include <errno.h>
#include <openssl/err.h>
#include <openssl/pkcs12.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cstring>

#include "telnetconnection.h"
#include "tetrace.h"

static bool g_tlsInitialised = false;
static int g_tlsConnIndex = -1;

// Writes the library's error queue to the trace, one line per error.
static void tls_trace_errors() {
  unsigned long e;
  char line[256];
  while ((e = ERR_get_error()) != 0) {
    ERR_error_string_n(e, line, sizeof line);
    TE_Trace(TRACE_CONNECT | TRACE_FAIL, "SSL ERROR: %s\n", line);
  }
}

// The first error of the queue as text (the queue is left traced and empty).
static std::string tls_first_error() {
  unsigned long e = ERR_peek_error();
  std::string text;
  if (e != 0) {
    const char* reason = ERR_reason_error_string(e);
    text = reason ? reason : "";
  }
  tls_trace_errors();
  return text;
}

static void tls_info_callback(const SSL* ssl, int where, int ret) {
  if (!(where & SSL_CB_ALERT)) return;
  auto* conn = static_cast<LumTelnetConnection*>(SSL_get_ex_data(ssl, g_tlsConnIndex));
  if (conn) conn->OnTlsAlert(where, ret);
}

void LumTelnetConnection::OnTlsAlert(int where, int ret) {
  const bool received = (where & SSL_CB_READ) != 0;
  Log("SSL3 alert %s:%s:%s\n", received ? "read" : "write", SSL_alert_type_string_long(ret),
      SSL_alert_desc_string_long(ret));
  // An alert we send because the server's certificate failed verification
  // is reported once, with its reason, by the handshake itself.
  if (!received && ssl_con && SSL_get_verify_mode(ssl_con) != SSL_VERIFY_NONE &&
      SSL_get_verify_result(ssl_con) != X509_V_OK)
    return;
  const char* desc = SSL_alert_desc_string(ret);
  if (strcmp(desc, "CN") == 0) {
    ShowError(false, "SSL: Remote disconnected");
  } else if (strcmp(desc, "CA") == 0) {
    _tlsErrorShown = true;
    ShowError(true, "SSL: Unknown CA");
  } else if (strcmp(SSL_alert_type_string(ret), "F") == 0) {
    _tlsErrorShown = true;
    ShowError(true, "SSL: Unknown Error (%d, %s)", ret & 0xff, SSL_alert_desc_string_long(ret));
  }
}

bool LumTelnetConnection::loadP12() {
  BIO* in = BIO_new_file(_sslPrivateKey.c_str(), "rb");
  if (!in) {
    Log("Error opening PKCS#12 file <%s>\n", _sslPrivateKey.c_str());
    ERR_clear_error();
    return false;
  }
  PKCS12* p12 = d2i_PKCS12_bio(in, nullptr);
  BIO_free(in);
  if (!p12) {
    Log("Error reading PKCS#12 file <%s>\n", _sslPrivateKey.c_str());
    tls_trace_errors();
    return false;
  }
  EVP_PKEY* pkey = nullptr;
  X509* cert = nullptr;
  for (;;) {
    if (PKCS12_parse(p12, _sslPrivateKeyPassword.c_str(), &pkey, &cert, nullptr)) break;
    Log("Error parsing PKCS#12 file (wrong Password?)\n");
    tls_trace_errors();
    std::string answer = Entry("Private Key Password", true, nullptr, "%s", "");
    if (entryWasCanceled) break;
    _sslPrivateKeyPassword = answer;
  }
  PKCS12_free(p12);
  if (!pkey || !cert) {
    EVP_PKEY_free(pkey);
    X509_free(cert);
    return false;
  }
  EVP_PKEY_free(ssl_pkey);
  X509_free(ssl_cert);
  ssl_pkey = pkey;
  ssl_cert = cert;
  if (SSL_CTX_use_certificate(ssl_ctx, cert) != 1 || SSL_CTX_use_PrivateKey(ssl_ctx, pkey) != 1) {
    tls_trace_errors();
    return false;
  }
  return true;
}

int LumTelnetConnection::SSLInit() {
  if (!g_tlsInitialised) {
    OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
    g_tlsConnIndex = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    g_tlsInitialised = true;
  }
  sslReadFailures = 0;
  FreeTls();
  ssl_ctx = SSL_CTX_new(TLS_client_method());
  if (!ssl_ctx) {
    tls_trace_errors();
    return -1;
  }
  // A host that closes without a close notify once the handshake is done
  // ends the connection as a plain host does; this library would otherwise
  // answer with a fatal "decode error" alert shown to the person.
  SSL_CTX_set_options(ssl_ctx, SSL_OP_ALL | SSL_OP_IGNORE_UNEXPECTED_EOF);
  SSL_CTX_set_mode(ssl_ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  SSL_CTX_set_info_callback(ssl_ctx, tls_info_callback);

  bool haveClientCert = !_sslPrivateKey.empty() && loadP12();
  if (SSL_CTX_set_default_verify_paths(ssl_ctx) != 1) tls_trace_errors();
  if (!_sslCAFile.empty() && SSL_CTX_load_verify_locations(ssl_ctx, _sslCAFile.c_str(), nullptr) != 1) {
    Log("Error loading the CA file <%s>\n", _sslCAFile.c_str());
    tls_trace_errors();
  }

  ssl_con = SSL_new(ssl_ctx);
  if (!ssl_con) {
    tls_trace_errors();
    return -1;
  }
  SSL_set_ex_data(ssl_con, g_tlsConnIndex, this);
  struct in_addr ip;
  const bool isAddress = inet_pton(AF_INET, _hostname.c_str(), &ip) == 1;
  if (!isAddress && !_hostname.empty()) SSL_set_tlsext_host_name(ssl_con, _hostname.c_str());
  if (_sslVerifyServer) {
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl_con);
    int ok = isAddress ? X509_VERIFY_PARAM_set1_ip_asc(param, _hostname.c_str())
                       : X509_VERIFY_PARAM_set1_host(param, _hostname.c_str(), 0);
    if (ok != 1) {
      tls_trace_errors();
      return -1;
    }
  }
  // Without verification any server certificate is accepted, as old hosts
  // with self-made certificates expect.
  SSL_set_verify(ssl_con, (haveClientCert || _sslVerifyServer) ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);
  return 0;
}

int LumTelnetConnection::StartTls() {
  if (SSLInit() < 0 || SSL_set_fd(ssl_con, _fd) != 1) {
    tls_trace_errors();
    FreeTls();
    return -1;
  }
  SSL_set_connect_state(ssl_con);
  _parser.setTlsActive(true);
  return 0;
}

// One step of the client handshake: 1 done, 0 not yet, -1 failed (reported).
int LumTelnetConnection::HandshakeStep() {
  ERR_clear_error();
  int r = SSL_do_handshake(ssl_con);
  if (r == 1) {
    Log("TLS established: %s %s\n", SSL_get_version(ssl_con), SSL_get_cipher_name(ssl_con));
    return 1;
  }
  int err = SSL_get_error(ssl_con, r);
  if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) return 0;
  ReportTlsFailure(err);
  return -1;
}

void LumTelnetConnection::ReportTlsFailure(int sslError) {
  long verify = ssl_con ? SSL_get_verify_result(ssl_con) : X509_V_OK;
  std::string reason = tls_first_error();
  // Once the handshake is done a failed read ends the connection like any
  // failed read; alerts have already said what the host said.
  if (ssl_con && SSL_is_init_finished(ssl_con)) {
    Log("SSL read failed (%d, %s)\n", sslError, reason.empty() ? "connection closed" : reason.c_str());
    return;
  }
  if (sslError == SSL_ERROR_SYSCALL && reason.empty()) reason = errno ? strerror(errno) : "connection closed";
  if (verify != X509_V_OK && SSL_get_verify_mode(ssl_con) != SSL_VERIFY_NONE) {
    _tlsErrorShown = true;
    ShowError(true, "SSL: Certificate verification failed (%s)", X509_verify_cert_error_string(verify));
    return;
  }
  if (_tlsErrorShown) return;
  _tlsErrorShown = true;
  ShowError(true, "SSL: Handshake failed (%s)", reason.empty() ? "unknown error" : reason.c_str());
}

void LumTelnetConnection::FreeTls() {
  if (ssl_con) {
    SSL_free(ssl_con);
    ssl_con = nullptr;
  }
  if (ssl_ctx) {
    SSL_CTX_free(ssl_ctx);
    ssl_ctx = nullptr;
  }
  EVP_PKEY_free(ssl_pkey);
  ssl_pkey = nullptr;
  X509_free(ssl_cert);
  ssl_cert = nullptr;
}
