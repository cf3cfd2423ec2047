#include "vemor/facade/providers.hpp"

namespace vemor::facade {

constinit OnceCell<Result<const Provider*>> PROVIDER;

Result<std::unique_ptr<Provider>> create_provider_boxed() {
    return fail(Error::Unsupported{"provider"});
}

const Result<const Provider*>& get_provider_ref() {
    return PROVIDER.get_or_init([]() -> Result<const Provider*> {
        auto boxed = create_provider_boxed();
        if (!boxed) return fail(std::move(boxed).error());
        return boxed->release();
    });
}

Result<ProviderHandle> provider() {
    const auto& cell = get_provider_ref();
    if (!cell) return fail(cell.error());
    return std::make_shared<ForwardingProvider>(**cell);
}

Result<InputProviderHandle> input_sim() { return fail(Error::Unsupported{"input"}); }

Result<std::vector<App>> AppExt::list() {
    auto handle = VEMOR_TRY(provider());
    return App::list_with(handle);
}

Result<std::vector<ShellSurface>> ShellSurfaceExt::list() {
    auto handle = VEMOR_TRY(provider());
    return ShellSurface::list_with(handle);
}

}  // namespace vemor::facade
