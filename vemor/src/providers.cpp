#include "vemor/facade/providers.hpp"

#include "vemor/macos/platform_setup.hpp"
#include "vemor/macos/provider.hpp"

#if __has_include("vemor/macos/input.hpp")
#include "vemor/macos/input.hpp"
#define VEMOR_FACADE_HAS_MACOS_INPUT 1
#endif

namespace vemor::facade {

constinit OnceCell<Result<const Provider*>> PROVIDER;

namespace {
// The one owner of the process-wide provider, never released: no handle owns the provider, so
// its handle cache lives as long as the process and no destructor can race a worker thread at
// exit. Held in a global so that leak checkers see it as reachable.
constinit const std::shared_ptr<const Provider>* g_kept_provider = nullptr;
}  // namespace

Result<std::shared_ptr<const Provider>> create_provider_boxed() {
    VEMOR_TRY_VOID(macos::prepare_platform());
    auto created = MacOSProvider::create();
    if (!created) return fail(std::move(created).error());
    return std::shared_ptr<const Provider>(std::move(*created));
}

const Result<const Provider*>& get_provider_ref() {
    return PROVIDER.get_or_init([]() -> Result<const Provider*> {
        auto created = create_provider_boxed();
        if (!created) return fail(std::move(created).error());
        g_kept_provider = new std::shared_ptr<const Provider>(std::move(*created));
        return g_kept_provider->get();
    });
}

Result<ProviderHandle> provider() {
    const auto& cell = get_provider_ref();
    if (!cell) return fail(cell.error());
    return std::make_shared<const ForwardingProvider>(**cell);
}

Result<InputProviderHandle> input_sim() {
    // Input acts on the same desktop the provider reads.
    VEMOR_TRY_VOID(macos::prepare_platform());
#if defined(VEMOR_FACADE_HAS_MACOS_INPUT)
    return std::make_shared<const MacOSInputProvider>();
#else
    return fail(Error::Unsupported{"input simulation"});
#endif
}

Result<std::vector<App>> AppExt::list() {
    auto handle = VEMOR_TRY(provider());
    return App::list_with(handle);
}

Result<std::vector<ShellSurface>> ShellSurfaceExt::list() {
    auto handle = VEMOR_TRY(provider());
    return ShellSurface::list_with(handle);
}

}  // namespace vemor::facade
