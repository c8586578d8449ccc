#include "tools/jwt/JWTVerifierLibrary.h"

#include "kit/ProgramLibrary.h"

#include <QLibrary>
#include <QtDebug>

JWTVerifierLibrary::CheckSignature JWTVerifierLibrary::checkSignature()
{
    // Loaded once, by whichever thread checks first, and never unloaded.
    static const CheckSignature loaded = []() -> CheckSignature {
        const QString path = ProgramLibrary::path(QStringLiteral("quorrix-jwt-checks.so"));
        QLibrary library(path);
        using Entry = CheckSignature (*)();
        const auto entry = path.isEmpty() ? nullptr : reinterpret_cast<Entry>(library.resolve("quorrixJWTCheckSignature"));
        if (!entry) {
            qWarning().noquote() << "The JWT signature checks' library did not load:"
                                 << (path.isEmpty() ? QStringLiteral("quorrix-jwt-checks.so not found") : library.errorString());
            return nullptr;
        }
        return entry();
    }();
    return loaded;
}

QString JWTVerifierLibrary::notLoadedMessage()
{
    return QStringLiteral("The signature checks could not be loaded, so no key can be checked: this installation "
                          "of Quorrix is missing quorrix-jwt-checks.so.");
}
