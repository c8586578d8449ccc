// The entry of quorrix-jwt-checks.so, the library of the signature checks (JWTVerifierLibrary).
#include "tools/jwt/JWTVerifierLibrary.h"

extern "C" Q_DECL_EXPORT JWTVerifierLibrary::CheckSignature quorrixJWTCheckSignature()
{
    return &JWTVerifier::checkSignature;
}
