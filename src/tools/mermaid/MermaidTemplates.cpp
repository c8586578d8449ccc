#include "tools/mermaid/MermaidTemplates.h"

#include <QStringList>

namespace MermaidTemplates {

namespace {

QString lines(std::initializer_list<const char*> parts)
{
    QStringList list;
    for (const char* part : parts)
        list << QString::fromUtf8(part);
    return list.join(QLatin1Char('\n'));
}

} // namespace

const QList<Template>& all()
{
    static const QList<Template> templates{
        {QStringLiteral("flowchart"), QStringLiteral("Flowchart"), QStringLiteral("flowchart"),
         lines({"flowchart TD",
                "    Start([Start]) --> Input[/Collect input/]",
                "    Input --> Check{Valid?}",
                "    Check -- yes --> Save[(Store)]",
                "    Check -- no --> Input",
                "    Save --> Done([Done])"})},
        {QStringLiteral("sequence"), QStringLiteral("Sequence"), QStringLiteral("arrow.left.arrow.right"),
         lines({"sequenceDiagram",
                "    autonumber",
                "    participant C as Client",
                "    participant S as Service",
                "    participant D as Database",
                "    C->>S: POST /orders",
                "    activate S",
                "    S->>D: insert order",
                "    D-->>S: order id",
                "    S-->>C: 201 Created",
                "    deactivate S"})},
        {QStringLiteral("class"), QStringLiteral("Class"), QStringLiteral("square.stack.3d.up"),
         lines({"classDiagram",
                "    class Tool {",
                "        +String id",
                "        +String name",
                "        +makeView() AnyView",
                "    }",
                "    class MarkdownTool",
                "    class JSONTool",
                "    Tool <|-- MarkdownTool",
                "    Tool <|-- JSONTool"})},
        {QStringLiteral("state"), QStringLiteral("State"), QStringLiteral("circle.dashed"),
         lines({"stateDiagram-v2",
                "    [*] --> Idle",
                "    Idle --> Loading: open file",
                "    Loading --> Ready: parsed",
                "    Loading --> Failed: error",
                "    Failed --> Loading: retry",
                "    Ready --> [*]"})},
        {QStringLiteral("er"), QStringLiteral("Entity Relationship"), QStringLiteral("tablecells"),
         lines({"erDiagram",
                "    CUSTOMER ||--o{ ORDER : places",
                "    ORDER ||--|{ LINE_ITEM : contains",
                "    CUSTOMER {",
                "        string name",
                "        string email",
                "    }",
                "    ORDER {",
                "        int id",
                "        date placed_at",
                "    }"})},
        {QStringLiteral("gantt"), QStringLiteral("Gantt"), QStringLiteral("chart.bar.xaxis"),
         lines({"gantt",
                "    title Release plan",
                "    dateFormat YYYY-MM-DD",
                "    section Build",
                "        Editor      :done,    a1, 2026-01-05, 7d",
                "        Preview     :active,  a2, after a1, 5d",
                "    section Ship",
                "        Docs        :         a3, after a2, 3d",
                "        Release     :milestone, after a3, 0d"})},
        {QStringLiteral("pie"), QStringLiteral("Pie"), QStringLiteral("chart.pie"),
         lines({"pie showData",
                "    title Time by tool",
                "    \"Markdown\" : 42",
                "    \"JSON\" : 28",
                "    \"CSV\" : 18",
                "    \"Mermaid\" : 12"})},
    };
    return templates;
}

} // namespace MermaidTemplates
