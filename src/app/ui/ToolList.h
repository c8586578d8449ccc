#pragma once

#include <QList>

class Tool;

// Every tool of the program, in sidebar order. The one place that names the tools.
const QList<const Tool*>& toolList();
