// The process-wide providers shared by every front end: one platform provider, created on first
// use and never released, handed out as cheap forwarding handles; a fresh input simulator per
// call; and `App::list()` / `ShellSurface::list()` over the process-wide provider. These live in
// `vemor::facade` (the core already has a `vemor::provider` namespace); the capture entry points
// are in capture.hpp.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "vemor/app.hpp"
#include "vemor/error.hpp"
#include "vemor/input.hpp"
#include "vemor/provider.hpp"
#include "vemor/shell.hpp"

namespace vemor::facade {

// A process-wide cell filled once. Concurrent first callers wait for the one creation; a
// creation that throws leaves the cell empty, so the next caller tries again. Once filled the
// value is read without a lock and is never destroyed (not even at exit, where worker threads
// may still read it), so a cell may be a global with constant initialisation.
template <class T>
class OnceCell {
public:
    constexpr OnceCell() = default;
    OnceCell(const OnceCell&) = delete;
    OnceCell& operator=(const OnceCell&) = delete;

    // The stored value, filling the cell with `make()` first when it is empty.
    template <class F>
    const T& get_or_init(F&& make) {
        if (!ready_.load(std::memory_order_acquire)) {
            std::call_once(once_, [&] {
                ::new (static_cast<void*>(storage_)) T(std::forward<F>(make)());
                ready_.store(true, std::memory_order_release);
            });
        }
        return *std::launder(reinterpret_cast<const T*>(storage_));
    }
    // The stored value, or nullptr while the cell is empty.
    const T* get() const {
        if (!ready_.load(std::memory_order_acquire)) return nullptr;
        return std::launder(reinterpret_cast<const T*>(storage_));
    }

private:
    std::once_flag once_;
    std::atomic<bool> ready_{false};
    alignas(T) unsigned char storage_[sizeof(T)]{};
};

// The platform provider of the process (never released), or the error its creation returned.
// Filled by `get_provider_ref`; never changed afterwards.
extern constinit OnceCell<Result<const Provider*>> PROVIDER;

// Creates the platform provider (the macOS backend; off Apple, over the simulated desktop,
// which `VEMOR_SIMULATED_DESKTOP` may replace). The creation error is returned unchanged.
// `get_provider_ref` keeps the result for the life of the process.
Result<std::shared_ptr<const Provider>> create_provider_boxed();

// Fills `PROVIDER` on first use and returns the stored outcome.
const Result<const Provider*>& get_provider_ref();

// A new handle forwarding to the process-wide provider, or a copy of its creation error.
Result<ProviderHandle> provider();

// A new, independent input simulator (its own held-modifier state).
Result<InputProviderHandle> input_sim();

// `App::list()` over the process-wide provider: `AppExt::list()`.
struct AppExt {
    static Result<std::vector<App>> list();
};

// `ShellSurface::list()` over the process-wide provider: `ShellSurfaceExt::list()`.
struct ShellSurfaceExt {
    static Result<std::vector<ShellSurface>> list();
};

}  // namespace vemor::facade
