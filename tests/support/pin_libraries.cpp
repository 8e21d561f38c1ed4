#include "pin_libraries.h"

#include <cstddef>

#include <dlfcn.h>
#include <link.h>

namespace veraxo_test {

void pin_loaded_libraries() {
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void*) {
            if (info->dlpi_name && info->dlpi_name[0] != '\0')
                dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
            return 0;
        },
        nullptr);
}

} // namespace veraxo_test
