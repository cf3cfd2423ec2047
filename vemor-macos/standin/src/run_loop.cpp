// Run loops: one per thread, created on first use and retired when the thread ends. Observer
// notifications arrive as queued work on every loop the observer's source was added to.
#include <algorithm>
#include <chrono>
#include <mutex>
#include <vector>

#include "desktop.hpp"

namespace vemor::standin {

namespace {

struct ThreadLoop {
    RunLoopObject* loop = nullptr;
    ~ThreadLoop() {
        if (loop != nullptr) loop->retire();
    }
};
thread_local ThreadLoop t_loop;

RunLoopObject* current_loop() {
    // Loops are immortal: another thread may stop a loop whose thread has already ended. They
    // stay listed here for the life of the process.
    static std::mutex m;
    static auto* all = new std::vector<RunLoopObject*>;
    if (t_loop.loop == nullptr) {
        t_loop.loop = new RunLoopObject;
        std::lock_guard lock(m);
        all->push_back(t_loop.loop);
    }
    return t_loop.loop;
}

bool has_sources(RunLoopObject* rl) {
    std::lock_guard lock(desktop_mutex());
    return !rl->sources.empty();
}

RunLoopObject* loop_of(CFRunLoopRef rl) { return cast<RunLoopObject>(rl); }
SourceObject* source_of(CFRunLoopSourceRef s) { return cast<SourceObject>(s); }

}  // namespace

void RunLoopObject::enqueue(std::function<void(bool)> work) {
    {
        std::lock_guard lock(m_);
        if (!retired_) {
            queue_.push_back(std::move(work));
            cv_.notify_all();
            return;
        }
    }
    work(false);
}

void RunLoopObject::retire() {
    std::vector<SourceObject*> dropped;
    {
        std::lock_guard lock(desktop_mutex());
        dropped.swap(sources);
        for (SourceObject* s : dropped) std::erase(s->run_loops, this);
        std::lock_guard inner(m_);
        retired_ = true;
    }
    std::deque<std::function<void(bool)>> pending;
    {
        std::lock_guard lock(m_);
        pending.swap(queue_);
    }
    for (auto& w : pending) w(false);
    for (SourceObject* s : dropped) s->release();
    std::vector<RunLoopObserverObject*> observers;
    {
        std::lock_guard lock(m_);
        observers.swap(observers_);
    }
    for (RunLoopObserverObject* o : observers) o->release();
}

void RunLoopObject::add_observer(RunLoopObserverObject* observer) {
    std::lock_guard lock(m_);
    // A loop whose thread has ended takes no more observers.
    if (retired_ || std::find(observers_.begin(), observers_.end(), observer) != observers_.end())
        return;
    observer->retain();
    observers_.push_back(observer);
}

void RunLoopObject::remove_observer(RunLoopObserverObject* observer) {
    {
        std::lock_guard lock(m_);
        auto it = std::find(observers_.begin(), observers_.end(), observer);
        if (it == observers_.end()) return;
        observers_.erase(it);
    }
    observer->release();
}

RunLoopObserverObject::RunLoopObserverObject(CFOptionFlags activities, bool repeats,
                                             CFRunLoopObserverCallBack callout,
                                             const CFRunLoopObserverContext* context)
    : CFObject(kTypeId), activities_(activities), repeats_(repeats), callout_(callout) {
    if (context != nullptr) {
        context_ = *context;
        if (context_.retain != nullptr) context_.info = const_cast<void*>(context_.retain(context_.info));
    }
}

RunLoopObserverObject::~RunLoopObserverObject() {
    if (context_.release != nullptr) context_.release(context_.info);
}

void RunLoopObserverObject::fire(CFRunLoopActivity activity) {
    if ((activities_ & activity) == 0 || callout_ == nullptr) return;
    if (!repeats_) {
        if (!valid_.exchange(false)) return;
    } else if (!valid_.load()) {
        return;
    }
    callout_(ref_of<CFRunLoopObserverRef>(this), activity, context_.info);
}

CFRunLoopRunResult RunLoopObject::run(double seconds, bool return_after_source_handled) {
    using Clock = std::chrono::steady_clock;
    const bool forever = !(seconds < 1e9);
    const auto deadline =
        forever ? Clock::time_point::max()
                : Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(std::max(seconds, 0.0)));
    if (has_sources(this)) {
        // A new run: the stop flag belongs to the run, so a stop that came while the loop was
        // not running is lost. Then the loop is entered, and its entry observers hear of it.
        std::vector<RunLoopObserverObject*> observers;
        {
            std::lock_guard lock(m_);
            stop_requested_ = false;
            observers = observers_;
            for (RunLoopObserverObject* o : observers) o->retain();
        }
        for (RunLoopObserverObject* o : observers) {
            o->fire(kCFRunLoopEntry);
            o->release();
        }
    }
    for (;;) {
        if (!has_sources(this)) {
            std::lock_guard lock(m_);
            if (stop_requested_) {
                stop_requested_ = false;
                return kCFRunLoopRunStopped;
            }
            return kCFRunLoopRunFinished;
        }
        std::function<void(bool)> work;
        {
            std::unique_lock lock(m_);
            auto ready = [&] { return stop_requested_ || woken_ || !queue_.empty(); };
            if (forever) {
                cv_.wait(lock, ready);
            } else {
                cv_.wait_until(lock, deadline, ready);
            }
            if (stop_requested_) {
                stop_requested_ = false;
                return kCFRunLoopRunStopped;
            }
            if (!queue_.empty()) {
                work = std::move(queue_.front());
                queue_.pop_front();
            } else if (woken_) {
                woken_ = false;
                continue;
            } else {
                return kCFRunLoopRunTimedOut;
            }
        }
        work(true);
        if (return_after_source_handled) return kCFRunLoopRunHandledSource;
    }
}

void RunLoopObject::stop() {
    std::lock_guard lock(m_);
    stop_requested_ = true;
    cv_.notify_all();
}

void RunLoopObject::wake_up() {
    std::lock_guard lock(m_);
    woken_ = true;
    cv_.notify_all();
}

}  // namespace vemor::standin

using namespace vemor::standin;

extern "C" {

const CFRunLoopMode kCFRunLoopDefaultMode = StandinCFStringMakeConstant("kCFRunLoopDefaultMode");
const CFRunLoopMode kCFRunLoopCommonModes = StandinCFStringMakeConstant("kCFRunLoopCommonModes");

CFTypeID CFRunLoopGetTypeID(void) { return kTypeIdRunLoop; }
CFTypeID CFRunLoopSourceGetTypeID(void) { return kTypeIdRunLoopSource; }

CFRunLoopRef CFRunLoopGetCurrent(void) { return ref_of<CFRunLoopRef>(current_loop()); }

void CFRunLoopRun(void) {
    log_call("CFRunLoopRun");
    RunLoopObject* rl = current_loop();
    CFRunLoopRunResult r;
    do {
        r = rl->run(1e10, false);
    } while (r != kCFRunLoopRunStopped && r != kCFRunLoopRunFinished);
}

CFRunLoopRunResult CFRunLoopRunInMode(CFRunLoopMode, CFTimeInterval seconds,
                                      Boolean returnAfterSourceHandled) {
    log_call("CFRunLoopRunInMode");
    check_fault("CFRunLoopRunInMode");
    return current_loop()->run(seconds, returnAfterSourceHandled != 0);
}

void CFRunLoopStop(CFRunLoopRef rl) {
    log_call("CFRunLoopStop");
    check_fault("CFRunLoopStop");
    RunLoopObject* loop = loop_of(rl);
    if (loop == nullptr) platform_crash("CFRunLoopStop of a non-run-loop");
    loop->stop();
}

void CFRunLoopWakeUp(CFRunLoopRef rl) {
    RunLoopObject* loop = loop_of(rl);
    if (loop == nullptr) platform_crash("CFRunLoopWakeUp of a non-run-loop");
    loop->wake_up();
}

void CFRunLoopAddSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode) {
    log_call("CFRunLoopAddSource");
    check_fault("CFRunLoopAddSource");
    RunLoopObject* loop = loop_of(rl);
    SourceObject* src = source_of(source);
    if (loop == nullptr || src == nullptr) return;
    {
        std::lock_guard lock(desktop_mutex());
        // A loop whose thread has ended takes no more sources.
        if (loop->retired()) return;
        if (std::find(loop->sources.begin(), loop->sources.end(), src) == loop->sources.end()) {
            src->retain();
            loop->sources.push_back(src);
            src->run_loops.push_back(loop);
        }
    }
    loop->wake_up();
}

void CFRunLoopRemoveSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode) {
    log_call("CFRunLoopRemoveSource");
    check_fault("CFRunLoopRemoveSource");
    RunLoopObject* loop = loop_of(rl);
    SourceObject* src = source_of(source);
    if (loop == nullptr || src == nullptr) return;
    bool removed = false;
    {
        std::lock_guard lock(desktop_mutex());
        auto it = std::find(loop->sources.begin(), loop->sources.end(), src);
        if (it != loop->sources.end()) {
            loop->sources.erase(it);
            std::erase(src->run_loops, loop);
            removed = true;
        }
    }
    if (removed) src->release();
    loop->wake_up();
}

CFTypeID CFRunLoopObserverGetTypeID(void) { return kTypeIdRunLoopObserver; }

CFRunLoopObserverRef CFRunLoopObserverCreate(CFAllocatorRef, CFOptionFlags activities,
                                             Boolean repeats, CFIndex,
                                             CFRunLoopObserverCallBack callout,
                                             CFRunLoopObserverContext* context) {
    log_call("CFRunLoopObserverCreate");
    if (check_fault("CFRunLoopObserverCreate").null) return nullptr;
    return ref_of<CFRunLoopObserverRef>(
        new RunLoopObserverObject(activities, repeats != 0, callout, context));
}

void CFRunLoopAddObserver(CFRunLoopRef rl, CFRunLoopObserverRef observer, CFRunLoopMode) {
    log_call("CFRunLoopAddObserver");
    check_fault("CFRunLoopAddObserver");
    RunLoopObject* loop = loop_of(rl);
    auto* o = cast<RunLoopObserverObject>(observer);
    if (loop == nullptr || o == nullptr) return;
    loop->add_observer(o);
}

void CFRunLoopRemoveObserver(CFRunLoopRef rl, CFRunLoopObserverRef observer, CFRunLoopMode) {
    log_call("CFRunLoopRemoveObserver");
    check_fault("CFRunLoopRemoveObserver");
    RunLoopObject* loop = loop_of(rl);
    auto* o = cast<RunLoopObserverObject>(observer);
    if (loop == nullptr || o == nullptr) return;
    loop->remove_observer(o);
}

Boolean CFRunLoopContainsSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode) {
    RunLoopObject* loop = loop_of(rl);
    SourceObject* src = source_of(source);
    if (loop == nullptr || src == nullptr) return false;
    std::lock_guard lock(desktop_mutex());
    return std::find(loop->sources.begin(), loop->sources.end(), src) != loop->sources.end();
}

}  // extern "C"
