#pragma once

#include "kit/TextRange.h"

// A span of text as the JSON editors and the search exchange it.
using JSONTextRange = TextRange;
