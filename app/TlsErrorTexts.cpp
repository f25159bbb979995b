#include "app/TlsErrorTexts.h"

#include "platform/Exceptions.h"
#include "platform/Tls.h"
#include "socket/Psock.h"

namespace pelicore {

std::string TlsFailureText(int Reason) {
  namespace E = net::TlsErrors;
  const std::string Failed = "安全な接続に失敗しました：";
  switch (Reason) {
    case E::CertificateUntrusted:
      return Failed + "サーバーの証明書が信頼されていません";
    case E::CertificateNameMismatch:
      return Failed + "サーバーの証明書がサーバー名と一致しません";
    case E::CertificateExpired:
      return Failed + "サーバーの証明書の有効期限が切れています";
    case E::CertificateNotYetValid:
      return Failed + "サーバーの証明書はまだ有効になっていません";
    case E::CertificateRejected:
      return Failed + "サーバーの証明書は安全ではありません";
    case E::ProtocolVersion:
      return Failed + "サーバーが TLS 1.2 以上に対応していません";
    case E::NotTls:
      return Failed + "サーバーが TLS で応答しません";
    case E::SetupFailed:
      return Failed + "証明書を読み込めません";
    default:
      return Failed + "TLS の開始に失敗しました";
  }
}

std::string ErrorTextOf(std::exception_ptr E) {
  try {
    if (E) std::rethrow_exception(E);
  } catch (const ETlsError& Tls) {
    return TlsFailureText(Tls.Reason());
  } catch (...) {
  }
  return ExceptionText(E);
}

}  // namespace pelicore
