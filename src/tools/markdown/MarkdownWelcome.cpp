#include "tools/markdown/MarkdownWelcome.h"

namespace MarkdownWelcome {

const QString& document()
{
    // 21 lines, no final line feed.
    static const QString text = QStringLiteral(
        "# Markdown\n"
        "\n"
        "Open a `.md` file with the **Open** button (Ctrl+O) or drag one onto the window.\n"
        "\n"
        "- Edit on the **left**\n"
        "- Live preview on the **right**\n"
        "- Scrolling stays **in sync**\n"
        "\n"
        "> The preview comes from Quorrix's own Markdown parser, with no outside dependencies.\n"
        "\n"
        "```python\n"
        "print(\"Hello, Debian Bookworm!\")\n"
        "```\n"
        "\n"
        "| Feature | Status |\n"
        "| --- | --- |\n"
        "| Live preview | Ready |\n"
        "| Synced scroll | Ready |\n"
        "\n"
        "- [x] Parse Markdown natively\n"
        "- [ ] Add syntax highlighting");
    return text;
}

} // namespace MarkdownWelcome
