#pragma once

#include "formats/TextRange.h"

// A span of text as the JSON editors and the search exchange it.
using JSONTextRange = TextRange;
