#pragma once

#include "kit/FindController.h"

// The preview's find: the kit's find state, searched through the page.
class MarkdownFindController : public FindController {
    Q_OBJECT
public:
    using FindController::FindController;
};
