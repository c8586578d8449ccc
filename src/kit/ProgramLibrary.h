#pragma once

#include <QString>

// Where the program finds a library of its own that it loads while it runs (the web views',
// the JWT tool's signature checks): beside the program, as the build tree lays it out, or in the
// library folder of its installation. Never a folder fixed when it was built: an installed
// program would load whatever a later build, or someone else, left there.
class ProgramLibrary {
public:
    // The path of `fileName` in the first of those folders that holds it; empty when none does.
    static QString path(const QString& fileName);
};
