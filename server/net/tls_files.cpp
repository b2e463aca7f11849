#include "server/net/tls_files.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

struct FileCloser
{
    void operator()(FILE* file) const { std::fclose(file); }
};
struct CertificateFree
{
    void operator()(X509* certificate) const { X509_free(certificate); }
};
struct KeyFree
{
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
typedef std::unique_ptr<FILE, FileCloser> ScopedFile;

// A key with a pass phrase would otherwise make OpenSSL ask on the terminal.
int RefusePassPhrase(char*, int, int, void*)
{
    return 0;
}

ScopedFile OpenForReading(const std::string& path, const char* what, std::string& error)
{
    ScopedFile file(std::fopen(path.c_str(), "rb"));
    if (!file)
        error = std::string("cannot read the TLS ") + what + " '" + path + "': " + std::strerror(errno);
    return file;
}

}  // namespace

bool CheckTlsFiles(const std::string& certPath, const std::string& keyPath, std::string& error)
{
    ScopedFile certFile = OpenForReading(certPath, "certificate", error);
    if (!certFile)
        return false;
    ScopedFile keyFile = OpenForReading(keyPath, "key", error);
    if (!keyFile)
        return false;

    std::unique_ptr<X509, CertificateFree> certificate(PEM_read_X509(certFile.get(), nullptr, RefusePassPhrase, nullptr));
    std::unique_ptr<EVP_PKEY, KeyFree> key(PEM_read_PrivateKey(keyFile.get(), nullptr, RefusePassPhrase, nullptr));
    ERR_clear_error();
    if (!certificate) {
        error = "'" + certPath + "' holds no PEM certificate";
        return false;
    }
    if (!key) {
        error = "'" + keyPath + "' holds no PEM private key (or one with a pass phrase)";
        return false;
    }
    if (X509_check_private_key(certificate.get(), key.get()) != 1) {
        ERR_clear_error();
        error = "the TLS key '" + keyPath + "' does not belong to the certificate '" + certPath + "'";
        return false;
    }
    return true;
}
