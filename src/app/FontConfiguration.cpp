#include "app/FontConfiguration.h"

#include <QtGlobal>

#include <fontconfig/fontconfig.h>

void FontConfiguration::load()
{
    // Since 2.12 the current configuration holds a reference of its own (released below).
    if (FcGetVersion() < 21200)
        return;
    for (const char* variable : {"FONTCONFIG_FILE", "FONTCONFIG_PATH", "FONTCONFIG_SYSROOT", "FC_DEBUG"}) {
        if (qEnvironmentVariableIsSet(variable))
            return;
    }
    FcConfig* config = FcConfigCreate();
    if (!config)
        return;
    // The same files and the same checks as fontconfig's own start, the disabled ones left out.
    bool made = FcConfigParseAndLoad(config, nullptr, FcTrue);
    if (made) {
        FcStrList* caches = FcConfigGetCacheDirs(config);
        made = caches && FcStrListNext(caches);
        if (caches)
            FcStrListDone(caches);
    }
    if (made && FcConfigBuildFonts(config))
        FcConfigSetCurrent(config);
    FcConfigDestroy(config);
}
