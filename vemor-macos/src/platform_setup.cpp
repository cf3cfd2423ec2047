#include "vemor/macos/platform_setup.hpp"

#include <cstdlib>
#include <string>

#if !defined(__APPLE__)
#include "vemor/standin/control.hpp"
#endif

namespace vemor::macos {

namespace {

Result<void> prepare_once() {
#if defined(__APPLE__)
    return {};
#else
    const char* path = std::getenv(kSimulatedDesktopVariable);
    if (path == nullptr || *path == '\0') return {};
    auto spec = standin::load_desktop_json_file(path);
    if (!spec)
        return fail(Error::InvalidConfig{std::string(kSimulatedDesktopVariable) + ": " + spec.error()});
    standin::install_desktop(*spec);
    return {};
#endif
}

}  // namespace

Result<void> prepare_platform() {
    // Kept for the life of the process and never destroyed: other threads may still ask at exit.
    static const Result<void>* outcome = new Result<void>(prepare_once());
    return *outcome;
}

}  // namespace vemor::macos
