#pragma once

// The desktop's font configuration, loaded by main() before the QApplication so that Qt's font
// database finds it made: as fontconfig's own first use loads it, less one step. fontconfig also
// parses every configuration file the system ships but leaves disabled (conf.avail, read only to
// list them for fc-conflist), a third of its parsing and a millisecond before the first paint.
class FontConfiguration {
public:
    // Nothing is done where fontconfig is pointed elsewhere or asked to report (FONTCONFIG_FILE,
    // FONTCONFIG_PATH, FONTCONFIG_SYSROOT, FC_DEBUG), nor where the files name no cache folder
    // or fail to load: fontconfig then starts on its own, as it would without this.
    static void load();
};
