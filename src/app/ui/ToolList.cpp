#include "app/ui/ToolList.h"

#include "tools/codec/ui/CodecTool.h"
#include "tools/csv/ui/CSVTool.h"
#include "tools/json/ui/JSONTool.h"
#include "tools/jwt/ui/JWTTool.h"
#include "tools/markdown/ui/MarkdownTool.h"
#include "tools/mermaid/ui/MermaidTool.h"
#include "tools/timestamp/ui/TimestampTool.h"

const QList<const Tool*>& toolList()
{
    static const MarkdownTool markdownTool;
    static const JSONTool jsonTool;
    static const CSVTool csvTool;
    static const MermaidTool mermaidTool;
    static const TimestampTool timestampTool;
    static const CodecTool codecTool;
    static const JWTTool jwtTool;
    static const QList<const Tool*> tools = {&markdownTool, &jsonTool,  &csvTool, &mermaidTool,
                                             &timestampTool, &codecTool, &jwtTool};
    return tools;
}
