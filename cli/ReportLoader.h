#pragma once
// Opens the report picture module on first use and makes pictures through it. The module is looked for
// beside the program (the build tree) and where the installation puts it, relative to the program, so
// an installed tree can move. It stays loaded until the process ends: Qt is not made to be unloaded.

#include <memory>
#include <string>

#include "ReportSink.h"

class ReportLoader {
public:
    // A new picture, or null with the reason in error ("cannot load the picture module (...)").
    // Safe to call from several threads.
    static std::unique_ptr<ReportSink> make(const std::string& title, std::string& error);
};
