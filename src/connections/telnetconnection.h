// LumTelnetConnection: telnet to a host, plain, over TLS from the first byte
// (`commtype` 8) or switched to TLS in-band by START_TLS (`commtype` 4), with
// the terminal-type, TN3270E and 5250 NEW-ENVIRON negotiation.  Connects
// without blocking; the session's update timer completes the connect.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "lumconnection.h"
#include "telnetparser.h"

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;
typedef struct evp_pkey_st EVP_PKEY;
typedef struct x509_st X509;

// Most bytes waiting for a host that reads slowly; output beyond it is
// dropped.
constexpr size_t kTelnetMaxPendingOutput = 1 << 20;

class LumTelnetConnection : public LumConnection {
 public:
  LumTelnetConnection();
  ~LumTelnetConnection() override;

  int MakeConnection() override;
  int gotFileDescriptor(int fd) override;
  int ContinueConnection() override;
  void ChangePtySize(int rows, int cols) override;
  // Sends bytes to the host with every 255 doubled.
  void Comout(const char* buffer, int length) override;
  void ComoutRaw(const char* buffer, int length) override;
  int Read(char* buffer, int size) override;
  void Disconnect() override;
  void UseDictionary(LumDict* dict) override;
  bool IsConnected() override;
  int HasData() override;
  std::string GetEmName() override;
  int KeepAliveCheck() override;
  const std::vector<int>& RecordEnds() override { return _parser.recordEnds(); }
  int Tn3270eFunctions() override { return _parser.tn3270eFunctions(); }
  std::string AssignedDeviceName() override { return _parser.assignedDevice(); }
  bool RecordsAgreed() override {
    return _parser.tn3270eFunctions() >= 0 || (_parser.local(TNO_EOR) && _parser.remote(TNO_EOR));
  }

  virtual int MakeDirectConnection();
  virtual bool haveEOR();
  virtual void setEOR(bool flag);
  virtual void SendNOP();

  const LumTelnetParser& parser() const { return _parser; }
  // Bytes the socket (or TLS) has not taken yet.
  size_t pendingOutput() const { return _out.size(); }
  bool tlsActive() const { return ssl_con != nullptr && _parser.tlsActive(); }

  // Settings (from UseDictionary).
  bool _useSSL = false;
  bool _useStartTLS = false;
  bool _tn3270Mode = false;
  bool _tn5250Mode = false;
  bool _useSystemConnection = false;
  bool _sslVerifyServer = false;  // verify the server's certificate and name
  int _keepAliveInterval = 0;
  std::string _ibmTerminalName;
  std::string _sslPrivateKey;
  std::string _sslPrivateKeyPassword;
  std::string _sslCAFile;  // extra trusted certificates (PEM)

  // TLS alert seen by the library's callback.
  void OnTlsAlert(int where, int ret);

 private:
  int SSLInit();
  bool loadP12();
  int StartTls();  // attaches TLS to the socket and starts the client handshake
  int HandshakeStep();
  void ReportTlsFailure(int sslError);
  void FreeTls();
  // Writes what the socket (or TLS) takes now of the queued output.
  void FlushOutput();

  LumTelnetParser _parser;
  bool _haveEOR = false;
  bool _established = false;  // the connect (and a first-byte TLS handshake) completed
  bool _tlsErrorShown = false;
  time_t _nextKeepAliveTime = 0;
  SSL_CTX* ssl_ctx = nullptr;
  SSL* ssl_con = nullptr;
  EVP_PKEY* ssl_pkey = nullptr;
  X509* ssl_cert = nullptr;
  int sslReadFailures = 0;
  std::vector<char> _telnetBuffer;  // IAC doubling, reused
  std::string _out;                 // output waiting for the socket, in order
};
