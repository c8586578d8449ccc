#include "tools/jwt/JWTToken.h"

#include "formats/Encodings.h"
#include "tools/jwt/JWTDecoder.h"

JWTToken JWTToken::read(QStringView text)
{
    JWTToken token;
    token.m_cleaned = JWTDecoder::cleanToken(text);
    const QString& cleaned = token.m_cleaned;
    if (cleaned.isEmpty())
        return token;
    token.m_segmentCount = cleaned.count(u'.') + 1;
    if (token.m_segmentCount != 3 && token.m_segmentCount != 5)
        return token;
    qsizetype start = 0;
    for (qsizetype i = 0; i < token.m_segmentCount; ++i) {
        qsizetype dot = cleaned.indexOf(u'.', start);
        if (dot < 0)
            dot = cleaned.size();
        token.m_pieces.emplace_back(start, dot - start);
        start = dot + 1;
    }
    token.m_bytes.reserve(token.m_pieces.size());
    for (qsizetype i = 0; i < token.m_segmentCount; ++i)
        token.m_bytes.push_back(Encodings::base64URLDecode(token.piece(i)));
    if (token.m_bytes[0])
        token.m_header = JWTJSONValue::parseUTF8(*token.m_bytes[0]);
    return token;
}

QStringView JWTToken::piece(qsizetype index) const
{
    const auto [start, length] = m_pieces[size_t(index)];
    return QStringView(m_cleaned).mid(start, length);
}
