#pragma once

#include "tools/jwt/JWTVerifier.h"

// The library of the JWT tool's signature checks (quorrix-jwt-checks, built from checks/): the
// one part of the tool that calls OpenSSL, loaded the first time a token is checked against a
// key, so that OpenSSL's library (4 MB, thousands of relocations) is not loaded before the
// window's first paint, nor at all by a user who never checks a signature. Any thread.
class JWTVerifierLibrary {
public:
    using CheckSignature = JWTVerifier::Outcome (*)(const QByteArray& signature, const QByteArray& input,
                                                    QStringView key, JWTVerifier::Algorithm algorithm,
                                                    const std::optional<QString>& kid, bool secretIsBase64);

    // The library's JWTVerifier::checkSignature(), the library loaded now if it was not; null
    // when it is not found or does not load (said once on the program's warning output).
    static CheckSignature checkSignature();
    // The verdict then: "The signature checks could not be loaded, …"
    static QString notLoadedMessage();
};
