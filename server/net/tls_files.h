// The certificate and key that serve --tls-cert/--tls-key are given, checked
// before the server starts so that a wrong file is named in one clear line
// rather than found by the first client.
#pragma once

#include <string>

// True when certPath holds a PEM certificate and keyPath a PEM private key
// (without a pass phrase) that belongs to it; otherwise error says which
// file is wrong and how.
bool CheckTlsFiles(const std::string& certPath, const std::string& keyPath, std::string& error);
