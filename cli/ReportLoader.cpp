#include "ReportLoader.h"

#include <mutex>
#include <new>
#include <vector>

#include <dlfcn.h>
#include <unistd.h>

namespace {

// The folder of the running program, from the kernel's link to it.
std::string programFolder() {
    std::vector<char> path(4096);
    const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (n <= 0)
        return ".";
    const std::string exe(path.data(), static_cast<std::size_t>(n));
    const std::size_t slash = exe.find_last_of('/');
    return slash == std::string::npos ? "." : exe.substr(0, slash);
}

struct Module {
    ReportFactory factory = nullptr;
    std::string error;
};

const Module& module() {
    static Module m;
    static std::once_flag opened;
    std::call_once(opened, [] {
        const std::string folder = programFolder();
        const std::string candidates[] = {folder + "/" VERAXO_REPORT_MODULE,
                                          folder + "/" VERAXO_REPORT_MODULE_FROM_BIN
                                                   "/" VERAXO_REPORT_MODULE};
        std::string reason = VERAXO_REPORT_MODULE " not found";
        for (const std::string& path : candidates) {
            if (::access(path.c_str(), F_OK) != 0)
                continue;
            void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (!handle) {
                const char* why = ::dlerror();
                reason = why ? why : "cannot be opened";
                break;
            }
            m.factory = reinterpret_cast<ReportFactory>(::dlsym(handle, REPORT_FACTORY));
            if (!m.factory)
                reason = path + " has no picture entry";
            break;
        }
        if (!m.factory)
            m.error = "cannot load the picture module (" + reason + ")";
    });
    return m;
}

} // namespace

std::unique_ptr<ReportSink> ReportLoader::make(const std::string& title, std::string& error) {
    const Module& m = module();
    if (!m.factory) {
        error = m.error;
        return nullptr;
    }
    std::unique_ptr<ReportSink> sink(m.factory(title.c_str()));
    if (!sink)
        error = "out of memory";
    return sink;
}
