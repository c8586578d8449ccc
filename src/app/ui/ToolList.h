#pragma once

#include <QList>

class Tool;

// Every tool of the program, in sidebar order. Its definition is made from QUORRIX_TOOLS
// (src/CMakeLists.txt), the one list of the tools.
const QList<const Tool*>& toolList();
